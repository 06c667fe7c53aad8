#pragma once
#include <cstddef>
#include <cstring>
#include <string>

struct PeerResult {
    std::size_t decodedBytes = 0;
    std::size_t headerBytes = 0;
    std::size_t leaves = 0;
};

void gmimeInit();
PeerResult gmimeParseAndDecode(const std::string& msg);
