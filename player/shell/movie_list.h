// The movies the player can show: every "*.qrx" file of its folder, sorted by name as a folder
// listing shows them (ASCII case ignored), and the choice of the first one from the configured name.
#pragma once

#include <cstddef>
#include <list>
#include <optional>
#include <string>
#include <string_view>

namespace reel {

// The longest movie file name the list keeps.
inline constexpr std::size_t kMovieNameMaximum = 511;

class MovieList {
 public:
  // Lists the files (not folders) of `folder` whose names end in ".qrx", in any case, sorted by
  // name (LessNoCase). A folder that cannot be read gives an empty list.
  static MovieList Build(const std::string& folder);
  static MovieList FromNames(std::list<std::string> names);

  bool Empty() const { return names_.empty(); }
  std::size_t Size() const { return names_.size(); }
  const std::string& At(std::size_t index) const;

  // The index of the first name equal to `name` (ASCII case ignored, multibyte characters exact).
  std::optional<std::size_t> Find(std::string_view name) const;

 private:
  std::list<std::string> names_;
};

MovieList BuildMovieList(const std::string& folder);
std::optional<std::size_t> FindMovie(const MovieList& list, std::string_view name);

// True when `name` ends in ".qrx" (ASCII case ignored, the "." outside any multibyte character).
bool IsMovieFileName(std::string_view name);

// The folder with a "/" at its end.
std::string WithTrailingSlash(std::string folder);

}  // namespace reel
