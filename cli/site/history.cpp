#include "site/history.h"

#include <git2.h>

#include <cstring>

#include "platform/platform.h"

namespace {

template <typename T, void (*Free)(T*)>
struct GitFree {
  void operator()(T* object) const { Free(object); }
};
using ObjectHandle = std::unique_ptr<git_object, GitFree<git_object, git_object_free>>;
using CommitHandle = std::unique_ptr<git_commit, GitFree<git_commit, git_commit_free>>;
using TreeHandle = std::unique_ptr<git_tree, GitFree<git_tree, git_tree_free>>;
using EntryHandle = std::unique_ptr<git_tree_entry, GitFree<git_tree_entry, git_tree_entry_free>>;
using BuilderHandle = std::unique_ptr<git_treebuilder, GitFree<git_treebuilder, git_treebuilder_free>>;
using BlobHandle = std::unique_ptr<git_blob, GitFree<git_blob, git_blob_free>>;
using WalkHandle = std::unique_ptr<git_revwalk, GitFree<git_revwalk, git_revwalk_free>>;
using SignatureHandle = std::unique_ptr<git_signature, GitFree<git_signature, git_signature_free>>;
using ConfigHandle = std::unique_ptr<git_config, GitFree<git_config, git_config_free>>;

std::string last_git_error() {
  const git_error* error = git_error_last();
  return error && error->message ? error->message : "unknown libgit2 error";
}

std::string oid_text(const git_oid& oid) {
  char text[GIT_OID_HEXSZ + 1];
  git_oid_tostr(text, sizeof text, &oid);
  return text;
}

CommitHandle head_commit(git_repository* repository) {
  git_oid oid;
  git_commit* commit = nullptr;
  if (git_reference_name_to_id(&oid, repository, "HEAD") != 0 || git_commit_lookup(&commit, repository, &oid) != 0)
    return CommitHandle();
  return CommitHandle(commit);
}

CommitHandle commit_named(git_repository* repository, const std::string& version) {
  if (version.empty()) return head_commit(repository);
  git_object* object = nullptr;
  if (git_revparse_single(&object, repository, version.c_str()) != 0) return CommitHandle();
  ObjectHandle owned(object);
  git_object* peeled = nullptr;
  if (git_object_peel(&peeled, object, GIT_OBJECT_COMMIT) != 0) return CommitHandle();
  return CommitHandle(reinterpret_cast<git_commit*>(peeled));
}

// The id of the gateway's folder in a commit's tree; zero when it has none.
git_oid folder_id(git_commit* commit, const std::string& gateway) {
  git_oid none;
  std::memset(&none, 0, sizeof none);
  git_tree* tree = nullptr;
  if (!commit || git_commit_tree(&tree, commit) != 0) return none;
  TreeHandle owned(tree);
  const git_tree_entry* entry = git_tree_entry_byname(tree, gateway.c_str());
  return entry ? *git_tree_entry_id(entry) : none;
}

// Diffs in the history read as decoded backups: the attribute names the
// driver, the repository's own configuration says how to run it.
void set_up_diff_driver(git_repository* repository, const std::string& folder) {
  const char attributes[] = "*.tar diff=varnu-site\n";
  const std::string path = folder + "/info/attributes";
  platform::write_file_replacing(path.c_str(), reinterpret_cast<const uint8_t*>(attributes), sizeof attributes - 1);
  git_config* config = nullptr;
  if (git_repository_config(&config, repository) != 0) return;
  ConfigHandle owned(config);
  const std::string program = platform::executable_path();
  git_config_set_string(config, "diff.varnu-site.textconv",
                        ((program.empty() ? std::string("varnu-site") : "'" + program + "'") + " show").c_str());
}

}  // namespace

std::string site_stem(const std::string& site_path) {
  std::string base = site_path;
  const std::size_t slash = base.find_last_of(platform::path_separator());
  const std::size_t dot = base.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) base.resize(dot);
  return base;
}

std::string history_folder(const std::string& site_path) { return site_stem(site_path) + ".history"; }

std::unique_ptr<History> History::open(const std::string& folder, bool create, std::string* problem) {
  git_repository* repository = nullptr;
  if (git_repository_open_bare(&repository, folder.c_str()) == 0) return std::unique_ptr<History>(new History(repository));
  if (!create) {
    *problem = "no history at " + folder + " yet (run backup first)";
    return nullptr;
  }
  if (git_repository_init(&repository, folder.c_str(), 1) != 0) {
    *problem = "cannot create the history " + folder + ": " + last_git_error();
    return nullptr;
  }
  set_up_diff_driver(repository, folder);
  return std::unique_ptr<History>(new History(repository));
}

History::~History() { git_repository_free(repository_); }

std::vector<FetchedArchive> History::archives(const std::string& gateway, const std::string& version,
                                              std::string* problem) const {
  std::vector<FetchedArchive> found;
  CommitHandle commit = commit_named(repository_, version);
  if (!commit) {
    if (!version.empty()) *problem = "no version '" + version + "' in the history";
    return found;
  }
  const git_oid folder = folder_id(commit.get(), gateway);
  git_tree* tree = nullptr;
  if (git_oid_is_zero(&folder) || git_tree_lookup(&tree, repository_, &folder) != 0) return found;
  TreeHandle owned(tree);
  for (std::size_t i = 0; i < git_tree_entrycount(tree); ++i) {
    const git_tree_entry* entry = git_tree_entry_byindex(tree, i);
    std::string name = git_tree_entry_name(entry);
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".tar") != 0) continue;
    git_blob* blob = nullptr;
    if (git_blob_lookup(&blob, repository_, git_tree_entry_id(entry)) != 0) continue;
    BlobHandle blob_owned(blob);
    const auto* bytes = static_cast<const uint8_t*>(git_blob_rawcontent(blob));
    name.resize(name.size() - 4);
    found.push_back({name, std::vector<uint8_t>(bytes, bytes + git_blob_rawsize(blob))});
  }
  return found;
}

std::vector<StoredArchive> History::store(const std::vector<FetchedArchive>& archives, std::string* problem) {
  std::vector<StoredArchive> stored;
  for (const FetchedArchive& archive : archives) {
    git_oid blob;
    if (git_blob_create_from_buffer(&blob, repository_, archive.tar.data(), archive.tar.size()) != 0) {
      *problem = "cannot store " + archive.name + ".tar: " + last_git_error();
      return {};
    }
    stored.push_back({archive.name, oid_text(blob)});
  }
  return stored;
}

void History::stage(const std::string& gateway, std::vector<StoredArchive> archives) {
  staged_.emplace_back(gateway, std::move(archives));
}

std::string History::commit(const std::string& message, bool allow_empty, std::string* problem) {
  // Trees and the commit are written through lock files of the repository's
  // own; an interrupt among them would leave one that stops every later run.
  const platform::InterruptsDeferred deferred;
  CommitHandle parent = head_commit(repository_);
  git_tree* root = nullptr;
  if (parent && git_commit_tree(&root, parent.get()) != 0) {
    *problem = "cannot read the latest version: " + last_git_error();
    return "";
  }
  TreeHandle root_owned(root);
  git_treebuilder* builder = nullptr;
  if (git_treebuilder_new(&builder, repository_, root) != 0) {
    *problem = last_git_error();
    return "";
  }
  BuilderHandle root_builder(builder);
  for (const auto& [gateway, archives] : staged_) {
    const git_tree_entry* existing = git_treebuilder_get(root_builder.get(), gateway.c_str());
    git_tree* folder = nullptr;
    if (existing) git_tree_lookup(&folder, repository_, git_tree_entry_id(existing));
    TreeHandle folder_owned(folder);
    git_treebuilder* folder_builder = nullptr;
    if (git_treebuilder_new(&folder_builder, repository_, folder) != 0) {
      *problem = last_git_error();
      return "";
    }
    BuilderHandle folder_builder_owned(folder_builder);
    for (const StoredArchive& archive : archives) {
      git_oid blob;
      const std::string name = archive.name + ".tar";
      if (git_oid_fromstr(&blob, archive.id.c_str()) != 0 ||
          git_treebuilder_insert(nullptr, folder_builder, name.c_str(), &blob, GIT_FILEMODE_BLOB) != 0) {
        *problem = "cannot store " + gateway + "/" + name + ": " + last_git_error();
        return "";
      }
    }
    git_oid folder_id;
    if (git_treebuilder_write(&folder_id, folder_builder) != 0 ||
        git_treebuilder_insert(nullptr, root_builder.get(), gateway.c_str(), &folder_id, GIT_FILEMODE_TREE) != 0) {
      *problem = last_git_error();
      return "";
    }
  }
  staged_.clear();
  git_oid tree_id;
  if (git_treebuilder_write(&tree_id, root_builder.get()) != 0) {
    *problem = last_git_error();
    return "";
  }
  if (!allow_empty && root && git_oid_equal(&tree_id, git_tree_id(root))) return "";
  git_tree* tree = nullptr;
  if (git_tree_lookup(&tree, repository_, &tree_id) != 0) {
    *problem = last_git_error();
    return "";
  }
  TreeHandle tree_owned(tree);
  git_signature* signature = nullptr;
  if (git_signature_now(&signature, "varnu-site", "varnu-site@localhost") != 0) {
    *problem = last_git_error();
    return "";
  }
  SignatureHandle signature_owned(signature);
  const git_commit* parents[] = {parent.get()};
  git_oid id;
  if (git_commit_create(&id, repository_, "HEAD", signature, signature, "UTF-8", message.c_str(), tree, parent ? 1 : 0,
                        parents) != 0) {
    *problem = "cannot commit: " + last_git_error();
    return "";
  }
  return oid_text(id);
}

std::vector<HistoryEntry> History::log(const std::string& gateway) const {
  std::vector<HistoryEntry> entries;
  git_revwalk* walk = nullptr;
  if (git_revwalk_new(&walk, repository_) != 0) return entries;
  WalkHandle owned(walk);
  if (git_revwalk_push_head(walk) != 0) return entries;
  git_oid oid;
  while (git_revwalk_next(&oid, walk) == 0) {
    git_commit* raw = nullptr;
    if (git_commit_lookup(&raw, repository_, &oid) != 0) continue;
    CommitHandle commit(raw);
    bool changed = true;
    if (!gateway.empty()) {
      git_commit* parent_raw = nullptr;
      if (git_commit_parentcount(raw) > 0) git_commit_parent(&parent_raw, raw, 0);
      CommitHandle parent(parent_raw);
      const git_oid now = folder_id(raw, gateway), before = folder_id(parent_raw, gateway);
      changed = !git_oid_equal(&now, &before);
      // A commit that only records words (a replaced gateway) names the gateway in them.
      const std::string message = "\n" + std::string(git_commit_message(raw));
      if (!changed && message.find("\n" + gateway + ":") == std::string::npos) continue;
    }
    entries.push_back({oid_text(oid), static_cast<int64_t>(git_commit_time(raw)), git_commit_message(raw), changed});
  }
  return entries;
}

std::string History::resolve(const std::string& version) const {
  CommitHandle commit = commit_named(repository_, version);
  return commit ? oid_text(*git_commit_id(commit.get())) : "";
}

std::string History::previous_version(const std::string& gateway) const {
  for (const HistoryEntry& entry : log(gateway))
    if (entry.changed) return resolve(entry.id + "~1");
  return "";
}
