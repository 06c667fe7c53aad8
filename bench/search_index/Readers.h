#pragma once
// index.json through other JSON readers, each driving the index's own
// decoder, so the figures compare the readers alone.
#include <filesystem>
#include <memory>
#include <string>

#include "Index/SearchIndex.h"

namespace bench {

// "hand" (SearchIndex::load), "nlohmann" (its SAX parser) or "simdjson"
// (its on-demand parser); nullptr for an unknown name or a refused file.
std::unique_ptr<bx::SearchIndex> loadWithReader(const std::string& reader, const std::filesystem::path& file,
                                                std::string& error);
bool haveReader(const std::string& reader);

}  // namespace bench
