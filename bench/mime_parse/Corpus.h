#pragma once
#include <cstddef>
#include <string>
#include <vector>

// A deterministic corpus of generated messages: mixed and alternative
// multiparts, nested parts, base64 and quoted-printable, encoded-word headers
// and bodies in many charsets.
std::vector<std::string> makeCorpus(std::size_t totalBytes, unsigned seed);
// One message with a few large base64 attachments, about `bytes` long.
std::string makeLargeMessage(std::size_t bytes, unsigned seed);
