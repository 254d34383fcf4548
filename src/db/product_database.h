// Helpers of the product database access that other parts share.
#pragma once

#include <cstdint>
#include <string>

namespace ost {

constexpr int32_t kMinimumOstraVersion = 373;
constexpr size_t kSiteIdWidth = 32;

// "3.80" -> 380, "7.2" -> 72: the decimal value times 100 or 10, rounded.
int32_t OstraVersionNumber(const std::string& text);
int32_t VelinVersionNumber(const std::string& text);

enum class ExecResult { kSucceeded, kFailed, kNoHandle };

// Runs one statement on its own statement handle on the open connection. kNoHandle
// when the handle could not be allocated (the statement did not run).
ExecResult ExecuteStatement(void* connection, const std::string& utf8Sql);
// The same for text already in the connection's encoding (scripts as published).
ExecResult ExecuteRawStatement(void* connection, const char* sql);

// Text for a quoted SQL literal: each single quote doubled.
std::string QuoteSqlText(const std::string& text);

}  // namespace ost
