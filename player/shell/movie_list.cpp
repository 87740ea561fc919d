#include "player/shell/movie_list.h"

#include <filesystem>
#include <iterator>
#include <system_error>

#include "common/string_search.h"

namespace reel {

bool IsMovieFileName(std::string_view name) {
  const auto dot = FindLastChar(name, '.');
  return dot && EqualNoCase(".qrx", name.substr(*dot));
}

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

MovieList MovieList::Build(const std::string& folder) {
  std::list<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    std::string name = it->path().filename().string();
    std::error_code typeError;
    if (it->is_directory(typeError) || !IsMovieFileName(name) || name.size() > kMovieNameMaximum) continue;
    names.push_back(std::move(name));
  }
  // The directory's own order is no order at all (a hash order on many file systems).
  names.sort([](const std::string& a, const std::string& b) { return LessNoCase(a, b); });
  return FromNames(std::move(names));
}

MovieList MovieList::FromNames(std::list<std::string> names) {
  MovieList list;
  list.names_ = std::move(names);
  return list;
}

const std::string& MovieList::At(std::size_t index) const { return *std::next(names_.begin(), static_cast<std::ptrdiff_t>(index)); }

std::optional<std::size_t> MovieList::Find(std::string_view name) const {
  std::size_t index = 0;
  for (const std::string& entry : names_) {
    if (EqualNoCase(entry, name)) return index;
    ++index;
  }
  return std::nullopt;
}

MovieList BuildMovieList(const std::string& folder) { return MovieList::Build(folder); }

std::optional<std::size_t> FindMovie(const MovieList& list, std::string_view name) { return list.Find(name); }

}  // namespace reel
