#include "action/gateway_pin.h"

#include <algorithm>
#include <cctype>

#include "status/status.h"
#include "util/events.h"
#include "util/text.h"

namespace {

bool same_mac(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<PinDifference> pin_difference(const GatewayPin& pin, const std::string& model,
                                            const std::string& serial, const std::string& mac) {
  if (!pin.serial.empty() && serial != pin.serial) return PinDifference{"serial", serial, pin.serial};
  if (!pin.mac.empty() && !same_mac(mac, pin.mac)) return PinDifference{"MAC", mac, pin.mac};
  if (!pin.model.empty() && model != pin.model) return PinDifference{"model", model, pin.model};
  return std::nullopt;
}

bool is_pinned_gateway(Gateway& gateway, const Reporter& reporter, const char* ip, const GatewayPin& pin) {
  StatusReport status;
  const StatusOutcome queried = query_status(gateway, ip, &status);
  if (!queried.read) {
    if (!queried.reason.empty()) report_error(reporter, "%s", queried.reason.c_str());
    return false;
  }
  const auto text = [](const std::optional<std::string>& field) { return field ? *field : std::string(); };
  const std::optional<PinDifference> differs =
      pin_difference(pin, text(status.model_name), text(status.serial_number), text(status.mac));
  release_status(&status);
  if (!differs) return true;
  const std::string line = "Not the pinned gateway: " + std::string(differs->field) + " '" +
                           escape_bytes(differs->reported) + "' answered, '" + escape_bytes(differs->pinned) +
                           "' is pinned. Nothing was written.";
  report_error(reporter, "%s\n", line.c_str());
  event_refusal(reporter, line);
  return false;
}
