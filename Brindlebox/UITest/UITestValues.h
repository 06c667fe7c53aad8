#pragma once

#include <filesystem>
// The test account the main scenario signs in with; the test driver seeds
// its server with the same values.

namespace bx::UITest {

// 19 characters, in a reserved test domain.
inline constexpr const char* kTestUser = "uitest@example.test";
// 10 characters, 11 bytes: a non-ASCII letter, a double quote and a space.
inline constexpr const char* kTestPassword = "p\xc3\xa4\"ss word";
// LOGIN refuses it.
inline constexpr const char* kWrongPassword = "nope";

int vaultFileCount(const std::filesystem::path& root);

}  // namespace bx::UITest
