#include "inspect/report_html.h"

#include <algorithm>

#include "inspect/fields.h"
#include "inspect/html.h"
#include "records/decode.h"

namespace {

// Black on white with borders and weight, no meaning carried by colour: the
// report is printed on office printers. Table headers repeat on each page,
// rows never split, a heading stays with what follows it.
const char* const STYLE = R"(@page { size: A4; margin: 16mm 15mm 18mm 15mm;
  @bottom-right { content: "Page " counter(page) " of " counter(pages); font: 8pt sans-serif; } }
html { color: #000; background: #fff; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font: 9.5pt/1.3 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; margin: 0; }
h1 { font-size: 24pt; margin: 30mm 0 2mm; }
h2 { font-size: 15pt; margin: 0 0 3mm; padding-bottom: 1mm; border-bottom: 1.5pt solid #000; }
h3 { font-size: 11pt; margin: 5mm 0 1.5mm; }
h2, h3 { break-after: avoid; page-break-after: avoid; }
p { margin: 1.5mm 0; }
.subtitle { font-size: 13pt; margin-bottom: 12mm; }
table { border-collapse: collapse; width: 100%; margin: 1mm 0 2mm; }
thead { display: table-header-group; }
tr { break-inside: avoid; page-break-inside: avoid; }
th, td { border: 0.6pt solid #000; padding: 0.8mm 1.5mm; text-align: left; vertical-align: top; }
thead th { border-bottom: 1.5pt solid #000; }
tbody tr:nth-child(even) td { background: #eee; }
table.facts { width: auto; min-width: 60%; }
table.facts th { width: 32mm; font-weight: bold; }
table.overview td { white-space: nowrap; }
table.overview td:last-child { white-space: normal; }
td.number, th.number { text-align: right; }
.missing { border: 1.5pt solid #000; padding: 3mm; font-weight: bold; }
.empty { font-style: italic; }
section.gateway { break-before: page; page-break-before: always; }
@media screen {
  body { max-width: 190mm; margin: 8mm auto; padding: 0 5mm; }
  h1 { margin-top: 10mm; }
  section.gateway { margin-top: 12mm; padding-top: 4mm; border-top: 3pt double #000; }
}
)";

constexpr uint8_t NO_LEVEL = 255;

std::string dash_if_empty(const std::string& text) { return text.empty() ? "–" : text; }

std::string value_or_unknown(const std::optional<std::string>& value) {
  return value && !value->empty() ? *value : "(not reported)";
}

std::string address_text(const std::optional<uint8_t>& address) { return address ? std::to_string(*address) : "–"; }

std::string device_types_text(const GearSlot& gear) {
  std::string out;
  std::vector<uint8_t> types = gear.device_types();
  types.erase(std::unique(types.begin(), types.end()), types.end());  // a record may store one type twice
  for (const uint8_t type : types) {
    const char* kind = type == 5 ? " 1–10 V" : type == 6 ? " LED" : type == 8 ? " colour" : "";
    out += (out.empty() ? "DT" : ", DT") + std::to_string(type) + kind;
  }
  return dash_if_empty(out);
}

std::string groups_text(uint16_t mask) {
  std::string out;
  for (const unsigned g : group_numbers(mask)) out += (out.empty() ? "" : ", ") + std::to_string(g);
  return dash_if_empty(out);
}

std::string levels_text(const std::array<uint8_t, 4>& levels) {
  std::string out;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    out += i ? " / " : "";
    out += i < 2 && levels[i] == NO_LEVEL ? "–" : std::to_string(levels[i]);
  }
  return out;
}

// The configurations that hold channel `n`'s gear and its input devices.
struct ChannelRecords {
  const BackupConfiguration* gear = nullptr;
  const BackupConfiguration* inputs = nullptr;
};

ChannelRecords channel_records(const BackupSet& set, unsigned n) {
  ChannelRecords records;
  for (const BackupConfiguration& c : set.configurations) {
    if (record_channel(c) != n) continue;
    (is_channel_record(c) ? records.gear : records.inputs) = &c;
  }
  return records;
}

std::size_t gear_in_use(const BackupSet& set) {
  std::size_t count = 0;
  for (const BackupConfiguration& c : set.configurations) {
    if (!is_channel_record(c) || !c.problem.empty()) continue;
    for (const GearSlot& gear : decode_channel_record(c.data).gear) count += gear.in_use();
  }
  return count;
}

// Why a configuration cannot be shown; empty when it can.
std::string unreadable(const BackupConfiguration* c, const char* what, const std::string& decode_problem) {
  if (!c) return std::string("The backup holds no ") + what + " of this channel.";
  const std::string& problem = c->problem.empty() ? decode_problem : c->problem;
  return problem.empty() ? "" : std::string("The ") + what + " (" + c->name + ") could not be read: " + problem;
}

void render_gear(std::string& out, const BackupConfiguration* c) {
  const ChannelView view = c && c->problem.empty() ? decode_channel_record(c->data) : ChannelView{};
  if (const std::string problem = unreadable(c, "gear record", view.problem); !problem.empty()) {
    out += html_element("p", problem, "missing") + "\n";
    return;
  }
  HtmlTable table{"gear", {"Address", "Name", "Device type", "Groups", "Levels 1 / 2 / 3 / 4"}, {}, false};
  for (const GearSlot& gear : view.gear)
    if (gear.in_use())
      table.rows.push_back({address_text(gear.short_address), gear.name.text, device_types_text(gear),
                            groups_text(gear.groups), levels_text(gear.levels)});
  out += table.rows.empty() ? html_element("p", "No gear set up on this channel.", "empty") + "\n" : html_table(table);
  std::string names;
  for (const GroupSlot& group : view.groups)
    if (group.in_use()) names += (names.empty() ? "" : "; ") + std::to_string(group.slot) + " " + group.name.text;
  out += "<p><strong>Group names:</strong> " + html_text(names.empty() ? "none" : names) + "</p>\n";
}

void render_inputs(std::string& out, const BackupConfiguration* c) {
  const InputView view = c && c->problem.empty() ? decode_input_record(c->data) : InputView{};
  if (const std::string problem = unreadable(c, "input-device record", view.problem); !problem.empty()) {
    out += html_element("p", problem, "missing") + "\n";
    return;
  }
  HtmlTable table{"inputs", {"Address", "Input device", "Instances", "Kinds"}, {}, false};
  for (const InputDevice& device : view.devices)
    if (device.in_use())
      table.rows.push_back({address_text(device.short_address), device.name.text,
                            std::to_string(device.instance_count), dash_if_empty(instance_summary(device))});
  out += table.rows.empty() ? html_element("p", "No input devices on this channel.", "empty") + "\n"
                            : html_table(table);
}

void render_identity(std::string& out, const ReportGateway& g) {
  HtmlTable facts{"facts", {}, {}, true};
  const GatewayInfo none;
  const GatewayInfo& info = g.backup ? g.backup->gateway : none;
  if (!g.address.empty()) facts.rows.push_back({"Address", g.address});
  if (g.backup) {
    facts.rows.push_back({"Model", value_or_unknown(info.model_name)});
    facts.rows.push_back({"Serial number", value_or_unknown(info.serial_number)});
    facts.rows.push_back({"MAC address", value_or_unknown(info.mac)});
    facts.rows.push_back({"Firmware", value_or_unknown(info.firmware_version)});
    facts.rows.push_back({"Backup", g.source});
  }
  if (!g.notes.empty()) facts.rows.push_back({"Notes", g.notes});
  out += html_table(facts);
  if (!info.problem.empty())
    out += html_element("p", "The gateway's status report could not be read: " + info.problem) + "\n";
}

void render_gateway(std::string& out, const ReportGateway& g) {
  out += "<section class=\"gateway\">\n" + html_element("h2", "Gateway " + g.name) + "\n";
  render_identity(out, g);
  if (!g.backup) {
    out += html_element("p", "No backup yet: this gateway has not been backed up, so its gear, groups and input "
                             "devices cannot be listed here.", "missing") + "\n</section>\n";
    return;
  }
  if (!g.backup->problem.empty()) {
    out += html_element("p", "The backup could not be read: " + g.backup->problem, "missing") + "\n</section>\n";
    return;
  }
  for (unsigned n = 1; n <= 4; ++n) {
    const ChannelRecords records = channel_records(*g.backup, n);
    // The gateway's name again: a channel may be the first thing on a page.
    out += html_element("h3", g.name + " · channel " + std::to_string(n)) + "\n";
    render_gear(out, records.gear);
    render_inputs(out, records.inputs);
  }
  std::vector<std::vector<std::string>> others;
  for (const BackupConfiguration& c : g.backup->configurations)
    if (!c.problem.empty() && !record_channel(c)) others.push_back({c.name, c.problem});
  if (!others.empty()) {
    out += html_element("h3", "Configurations that could not be read") + "\n";
    out += html_table({"", {"Configuration", "Problem"}, others, false});
  }
  out += "</section>\n";
}

void render_cover(std::string& out, const ReportDocument& report) {
  out += "<section class=\"cover\">\n" + html_element("h1", report.title) + "\n" +
         html_element("p", "Lighting control: handover documentation", "subtitle") + "\n";
  HtmlTable facts{"facts", {}, {{"Site", report.title}, {"Date", report.date}}, true};
  if (!report.installer.empty()) facts.rows.push_back({"Installer", report.installer});
  facts.rows.push_back({"Gateways", std::to_string(report.gateways.size())});
  out += html_table(facts);
  if (!report.notes.empty()) {
    out += html_element("h3", "Notes") + "\n";
    for (const std::string& note : report.notes) out += html_element("p", note) + "\n";
  }
  HtmlTable overview{
      "overview", {"Gateway", "Address", "Model", "Serial number", "Firmware", "Gear", "Backup"}, {}, false};
  for (const ReportGateway& g : report.gateways) {
    if (!g.backup) {
      overview.rows.push_back({g.name, dash_if_empty(g.address), "", "", "", "", "no backup yet"});
      continue;
    }
    const GatewayInfo& info = g.backup->gateway;
    overview.rows.push_back({g.name, dash_if_empty(g.address), info.model_name.value_or("–"),
                             info.serial_number.value_or("–"), info.firmware_version.value_or("–"),
                             std::to_string(gear_in_use(*g.backup)), g.source});
  }
  out += html_element("h3", "Gateways") + "\n" + html_table(overview) + "</section>\n";
}

}  // namespace

std::string render_report_html(const ReportDocument& report) {
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n" +
                    html_element("title", report.title + " – handover " + report.date) + "\n<style>\n" + STYLE +
                    "</style>\n</head>\n<body>\n";
  render_cover(out, report);
  for (const ReportGateway& g : report.gateways) render_gateway(out, g);
  return out + "</body>\n</html>\n";
}
