// Who must answer at an address before anything is written to it: the model,
// serial and MAC a site recorded for its gateway (its pin).
#pragma once

#include <optional>
#include <string>

#include "net/net.h"
#include "util/reporter.h"

struct GatewayPin {
  std::string model, serial, mac;  // an empty field is not checked
};

struct PinDifference {
  const char* field;  // "serial", "MAC" or "model"
  std::string reported, pinned;
};

// The first pinned field the gateway reports otherwise, serial first; MACs
// compare without regard to case.
std::optional<PinDifference> pin_difference(const GatewayPin& pin, const std::string& model,
                                            const std::string& serial, const std::string& mac);

// Reads the status of the gateway at `ip` and compares it with the pin. False
// when it cannot be read, or when another gateway answers: then one line says
// what differs and a refusal event makes the run's result failed.
bool is_pinned_gateway(Gateway& gateway, const Reporter& reporter, const char* ip, const GatewayPin& pin);
