// Makes firmware images and packages for trying out push_firmware.
//
//   fwmaker image OUT [--size N] [--model TEXT] [--description TEXT]
//                     [--version TEXT] [--number N] [--date TEXT] [--time TEXT]
//                     [--channels N] [--seed N]
//   fwmaker package OUT IMAGE [--encryption aes256|aes192|aes128|traditional|none]
//                     [--password TEXT] [--header TEXT] [--upper]
//                     [--header-entry NAME] [--image-entry NAME] [--deflate|--zstd]
//
// A package's header is the image's SHA-256 in lower-case hex unless --header
// or --upper says otherwise; an empty entry name leaves that entry out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testing/firmware_maker.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: fwmaker image OUT [--size N] [--model T] [--description T] [--version T]\n"
               "                         [--number N] [--date T] [--time T] [--channels N] [--seed N]\n"
               "       fwmaker package OUT IMAGE [--encryption aes256|aes192|aes128|traditional|none]\n"
               "                         [--password T] [--header T] [--upper] [--header-entry NAME]\n"
               "                         [--image-entry NAME] [--deflate|--zstd]\n");
  return 2;
}

bool number(const char* text, uint64_t max, uint64_t* out) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (!*text || *end || value > max) return false;
  *out = value;
  return true;
}

bool read_file(const char* path, std::vector<uint8_t>* out) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  uint8_t chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) out->insert(out->end(), chunk, chunk + n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool parse_image_options(int argc, char** argv, ImageDescription* d) {
  for (int i = 0; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    uint64_t n = 0;
    if (option == "--model") d->model_name = value;
    else if (option == "--description") d->model_description = value;
    else if (option == "--version") d->version_string = value;
    else if (option == "--date") d->version_date = value;
    else if (option == "--time") d->version_time = value;
    else if (option == "--size" && number(value, UINT32_MAX, &n)) d->size = n;
    else if (option == "--number" && number(value, UINT32_MAX, &n)) d->version_number = static_cast<uint32_t>(n);
    else if (option == "--channels" && number(value, UINT8_MAX, &n)) d->dali_number_of_channel = static_cast<uint8_t>(n);
    else if (option == "--seed" && number(value, UINT32_MAX, &n)) d->seed = static_cast<uint32_t>(n);
    else return false;
  }
  return true;
}

bool parse_package_options(int argc, char** argv, PackageDescription* d, bool* upper) {
  for (int i = 0; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--upper") {
      *upper = true;
      continue;
    }
    if (option == "--deflate" || option == "--zstd") {
      (option == "--zstd" ? d->zstd : d->deflate) = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (option == "--password") d->password = value;
    else if (option == "--header") d->header = value;
    else if (option == "--header-entry") d->header_entry = value;
    else if (option == "--image-entry") d->image_entry = value;
    else if (option == "--encryption") {
      const std::optional<PackageEncryption> encryption = encryption_by_name(value);
      if (!encryption) return false;
      d->header_encryption = d->image_encryption = *encryption;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string kind = argv[1];
  const char* out = argv[2];
  if (kind == "image") {
    ImageDescription description;
    if (!parse_image_options(argc - 3, argv + 3, &description)) return usage();
    std::string error;
    if (write_bytes(out, make_firmware_image(description), &error) != 0) {
      std::fprintf(stderr, "fwmaker: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (kind != "package" || argc < 4) return usage();
  PackageDescription description;
  bool upper = false;
  if (!parse_package_options(argc - 4, argv + 4, &description, &upper)) return usage();
  std::vector<uint8_t> image;
  if (!read_file(argv[3], &image)) {
    std::perror(argv[3]);
    return 1;
  }
  if (upper && !description.header) description.header = digest_hex(firmware_digest(image.data(), image.size()), true);
  std::string error;
  if (write_firmware_package(out, image, description, &error) != 0) {
    std::fprintf(stderr, "fwmaker: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
