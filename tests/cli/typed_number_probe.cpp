// What `ovrin type` would type, for typed_number_test.py: every line of stdin
// is "SCALE DECIMALS VALUE...". SCALE and DECIMALS are parsed as the command
// line of `ovrin type --scale SCALE --decimals DECIMALS` is; the answer is a
// line of the texts typed for the values, or "refused STATUS".
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string scale;
    std::string decimals;
    words >> scale >> decimals;
    std::vector<std::string> arguments = {"ovrin", "type", "--scale", scale, "--decimals", decimals};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    ovrin_tool::Options options;
    const int status = ovrin_tool::ParseOptions(static_cast<int>(argv.size()), argv.data(), &options);
    if (status != -1) {
      std::cout << "refused " << status << "\n";
      continue;
    }
    long long value = 0;
    std::string typed;
    while (words >> value) {
      typed += (typed.empty() ? "" : " ") +
               ovrin_tool::TypedNumber(static_cast<std::int32_t>(value), options.typeScale, options.typeDecimals, '.');
    }
    std::cout << typed << "\n";
  }
  return 0;
}
