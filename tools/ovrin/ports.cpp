#include <cstdio>
#include <string>

#include "commands.h"
#include "format.h"
#include "system.h"

namespace ovrin_tool {
namespace {

std::string Quoted(const std::string& text) { return "\"" + JsonEscape(text.data(), text.size()) + "\""; }

}  // namespace

int Ports(const Options& options) {
  const std::vector<ovrin::PortCandidate> order = ovrin::SearchOrder();
  if (options.json) std::printf("[");
  bool first = true;
  for (const ovrin::PortCandidate& candidate : order) {
    // Whether it can be opened now; an entry the search passes over is not tried.
    const char* status = "passed over: too long";
    if (candidate.fits) status = ovrin::OutcomeText(ovrin::CheckPort(candidate.name, nullptr));
    const ovrin::PortIdentity identity = ovrin::IdentifyPort(candidate.name);
    const auto details = PortDetails(candidate.name);
    if (options.json) {
      std::string object =
          "{\"port\":" + Quoted(candidate.name) + ",\"remembered\":" + (candidate.remembered ? "true" : "false");
      if (!candidate.remembered) {
        object += ",\"listedAs\":" + Quoted(candidate.listedAs) + ",\"listedData\":" + Quoted(candidate.listedData);
      }
      object += std::string(",\"opens\":") + (std::string(status) == "opened" ? "true" : "false") +
                ",\"status\":" + Quoted(status) + PortIdentityJson(identity);
      for (const auto& detail : details) object += "," + Quoted(detail.first) + ":" + Quoted(detail.second);
      WriteText(stdout, (first ? "\n  " : ",\n  ") + object + "}");
    } else {
      std::string line = candidate.name + "  " + status;
      line += candidate.remembered ? "  (remembered)" : "  (" + candidate.listedAs + ": " + candidate.listedData + ")";
      const std::string label = PortLabel(identity);
      if (!label.empty()) line += "  " + label;
      if (!identity.vid.empty()) line += "  usb " + identity.vid + ":" + identity.pid;
      if (!identity.serialNumber.empty()) line += "  serial " + identity.serialNumber;
      for (const auto& detail : details) line += "  " + detail.first + " " + detail.second;
      WriteText(stdout, Printable(line) + "\n");
    }
    first = false;
  }
  if (options.json) std::printf("%s]\n", first ? "" : "\n");
  if (!options.json && order.empty()) std::fprintf(stderr, "ovrin: there is no serial port to search\n");
  return kOk;
}

}  // namespace ovrin_tool
