#include "converter/engine/output_name.h"

#include "common/string_search.h"

namespace reel {

std::string MakeOutputName(std::string_view outputFolder, std::string_view sourcePath, std::string_view extension) {
  while (!outputFolder.empty() && outputFolder.back() == '/') outputFolder.remove_suffix(1);
  const auto slash = FindLastChar(sourcePath, '/');
  const std::string_view fileName = slash ? sourcePath.substr(*slash + 1) : sourcePath;

  std::string name(outputFolder);
  name += '/';
  const std::size_t nameStart = name.size();
  name += fileName;
  if (const auto dot = FindLastChar(std::string_view(name).substr(nameStart), '.')) {
    name.resize(nameStart + *dot);
  }
  name += extension;
  return name;
}

}  // namespace reel
