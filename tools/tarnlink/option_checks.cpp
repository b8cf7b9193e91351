#include "option_checks.h"

#include "sim/devices/catalogue.h"

namespace tarnlink::tool {

const CLI::Validator kCatalogueName(
    [](const std::string& name) {
      return sim::devices::FindCatalogueEntry(name) != nullptr
                 ? std::string()
                 : "no catalogue device '" + name + "' (`tarnlink info --list` names them)";
    },
    "", "catalogue name");

}  // namespace tarnlink::tool
