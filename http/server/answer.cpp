// What the server says to one request: the routing rules and the fields every answer carries.
#include <fcntl.h>
#include <sys/stat.h>

#include <random>

#include "server_loop.h"

namespace httpserver {

namespace {

// The page's own scripts, styles and images; the varnkit window's bridge calls its private
// scheme. No inline code, no frames, no framing by other pages.
constexpr const char* content_policy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; font-src 'self'; "
    "connect-src 'self' varnkit-native:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 414: return "URI Too Long";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    default: return "Internal Server Error";
  }
}

void start_head(Answer& answer, int status, const std::string& content_type, std::uint64_t length) {
  answer.status = status;
  answer.head = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
  answer.head += "Content-Type: " + content_type + "\r\nContent-Length: " + std::to_string(length) + "\r\n";
  answer.head += "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n";
  answer.head += std::string("Content-Security-Policy: ") + content_policy + "\r\n";
}

// Fields after the common ones; the Cache-Control field is always the last one added.
void end_head(Answer& answer, const std::string& more, const char* cache = "no-cache") {
  answer.head += more;
  answer.head += std::string("Cache-Control: ") + cache + "\r\n";
  if (answer.close) answer.head += "Connection: close\r\n";
  answer.head += "\r\n";
}

Answer text_answer(int status, const std::string& text, const std::string& more = "", const char* cache = "no-cache") {
  Answer answer;
  start_head(answer, status, "text/plain; charset=utf-8", text.size());
  answer.close = status == 400 || status == 408 || status == 414 || status == 431;
  end_head(answer, more, cache);
  answer.body.push_back({text, 0, 0});
  answer.body_bytes = text.size();
  return answer;
}

std::string status_text(int status) { return std::to_string(status) + " " + reason(status) + "\n"; }

const std::string& multipart_boundary() {
  static const std::string boundary = [] {
    std::random_device random;
    std::uniform_int_distribution<unsigned> digit(0, 15);
    std::string text = "varnkit-";
    for (int i = 0; i < 24; ++i) text += "0123456789abcdef"[digit(random)];
    return text;
  }();
  return boundary;
}

std::string content_range(const ByteRange& range, std::uint64_t size) {
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(size);
}

Answer file_answer(const RequestHead& request, Descriptor file, std::uint64_t size, const char* type) {
  std::vector<ByteRange> ranges;
  // Without validators an If-Range can never match, so such a request gets the whole file.
  int kind = request.count("range") == 1 && request.count("if-range") == 0
                 ? parse_ranges(request.value("range"), size, ranges)
                 : ranges_whole;
  Answer answer;
  if (kind == ranges_unsatisfiable) {
    return text_answer(416, status_text(416), "Content-Range: bytes */" + std::to_string(size) + "\r\n");
  }
  std::vector<Piece> body;
  std::string more = "Accept-Ranges: bytes\r\n";
  std::string content_type = type;
  int status = 200;
  if (kind == ranges_partial && ranges.size() == 1) {
    status = 206;
    more += "Content-Range: " + content_range(ranges[0], size) + "\r\n";
    body.push_back({"", ranges[0].first, ranges[0].last - ranges[0].first + 1});
  } else if (kind == ranges_partial) {
    const std::string& boundary = multipart_boundary();
    for (const ByteRange& range : ranges) {
      body.push_back({"--" + boundary + "\r\nContent-Type: " + type + "\r\nContent-Range: " + content_range(range, size) +
                          "\r\n\r\n",
                      0, 0});
      body.push_back({"", range.first, range.last - range.first + 1});
      body.push_back({"\r\n", 0, 0});
    }
    body.push_back({"--" + boundary + "--\r\n", 0, 0});
    status = 206;
    content_type = "multipart/byteranges; boundary=" + boundary;
  }
  std::uint64_t length = 0;
  for (const Piece& piece : body) length += piece.text.size() + piece.length;
  // The part headers must not make an answer bigger than the file itself.
  if (status == 200 || length > size) {
    status = 200;
    more = "Accept-Ranges: bytes\r\n";
    content_type = type;
    body.assign(1, {"", 0, size});
    length = size;
  }
  start_head(answer, status, content_type, length);
  end_head(answer, more);
  answer.file = std::move(file);
  answer.body_bytes = length;
  answer.body = std::move(body);
  return answer;
}

Answer route(const Site& site, const RequestHead& request) {
  // One Host field naming loopback and our port, or the request may come from a
  // foreign page whose name was rebound to 127.0.0.1.
  if (request.count("host") != 1 || !host_is_loopback(request.value("host"), site.port)) {
    return text_answer(403, "403 Forbidden: this server answers only requests to 127.0.0.1 or localhost on its own port.\n");
  }
  if (request.method != "GET" && request.method != "HEAD") {
    return text_answer(405, status_text(405), "Allow: GET, HEAD\r\n");
  }
  if (request.path == identity_path && !site.key.empty()) {
    const std::string proof = identity_answer(site.key, query_value(request.query, "challenge"));
    if (proof.empty()) return text_answer(400, status_text(400));
    return text_answer(200, proof, "", "no-store");
  }
  std::string path;
  int found = resolve_request_path(site.root, request.path, path);
  if (found == path_malformed) return text_answer(400, status_text(400));
  Descriptor file;
  struct stat info{};
  if (found == path_file && path != site.program) {
    // Non-blocking, so a file swapped for a FIFO after the check cannot stall the server.
    file = Descriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  }
  if (!file || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return text_answer(404, status_text(404));
  return file_answer(request, std::move(file), static_cast<std::uint64_t>(info.st_size), content_type_for(path));
}

}  // namespace

Answer refusal(int status) { return text_answer(status, status_text(status)); }

Answer answer_request(const Site& site, const RequestHead& request) {
  Answer answer = route(site, request);
  // HEAD: the same fields, Content-Length included, and no body.
  if (request.method == "HEAD") answer.body.clear();
  return answer;
}

}  // namespace httpserver
