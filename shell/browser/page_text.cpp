#include "browser/page_text.h"

#include "varnkit_config.h"

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string load_error_page(std::string_view failed_url, std::string_view error_text, int error_code) {
  return std::string("<html><head><title>") + kLoadErrorTitle +
         "</title></head><body bgcolor=\"white\"><h2>Failed to load URL " + html_escape(failed_url) +
         " with error " + html_escape(error_text) + " (" + std::to_string(error_code) +
         ").</h2>"
         "<p>The page could not be reached. What to try:</p><ul>"
         "<li>Close this window and start varnkit again: it starts its own web server on 127.0.0.1:" VARNKIT_SERVER_PORT_TEXT ".</li>"
         "<li>If the address was given with --url, check that it is right and that its server runs.</li>"
         "<li>If a firewall or security program runs on this computer, let varnkit use the loopback "
         "address 127.0.0.1.</li></ul></body></html>";
}

std::string port_taken_page(uint16_t port) {
  const std::string where = "127.0.0.1:" + std::to_string(port);
  return "<html><head><title>varnkit: port " + std::to_string(port) +
         " is taken</title></head><body bgcolor=\"white\"><h2>Port " + std::to_string(port) +
         " is used by another program</h2>"
         "<p>varnkit shows its user interface from its own web server at " + where +
         ". Another program answers on that port, and it is not varnkit's server, so varnkit shows nothing "
         "from it and offers no backup, restore or firmware upgrade.</p><p>What to do:</p><ul>"
         "<li>Find the program that listens on port " + std::to_string(port) +
         " (on Linux: <code>ss -ltnp 'sport = :" + std::to_string(port) +
         "'</code>) and close it; it may be another web server, or a varnkit-http-server started by hand.</li>"
         "<li>Then close this window and start varnkit again.</li></ul></body></html>";
}
