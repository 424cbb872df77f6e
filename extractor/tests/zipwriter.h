// Writes ZIP archives for the tests, wrong in precise ways where asked: the
// archives no real writer would make. archives/recipes.txt describes each
// crafted archive the tests unpack; make_archives builds them all.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace rdz::test {

// An entry's fields, spelt as in recipes.txt ({"name", "a"}, {"method", "0"},
// {"zip64", ""}); one not given has the value an ordinary writer gives it.
using Fields = std::map<std::string, std::string, std::less<>>;

struct ZipWriter {
  void add(const Fields& entry);
  std::string finish();

  std::string prefix, comment;               // bytes before the archive (a stub); after it
  bool zip64_end = false, adjusted = false;  // Zip64 end records; offsets counting the prefix
  int64_t declared = -1;                     // entries the end records state, if not all
  uint64_t cd_delta = 0;                     // added to the directory offset they state
  std::string body, cd;
  std::vector<uint64_t> locals, records;  // where each header begins, records within cd
  uint64_t cd_at = 0, end_at = 0;
};

// Reads the next recipe: false at the end.
bool next_recipe(std::istream& in, std::string* name, std::string* archive);

}  // namespace rdz::test
