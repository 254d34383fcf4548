// Statements SQL Server refuses inside a transaction: a script that holds one cannot
// run whole or not at all (ScriptTransaction = 1 on the server), so the maker hears of
// it when the release is built.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ost::release {

// One statement found, as "batch N: WHAT" (N counts from 1, as the tool counts batches;
// WHAT is the statement's leading words, upper-cased). Comments and string literals
// are not looked into.
std::vector<std::string> StatementsRefusedInTransaction(std::string_view script);

}  // namespace ost::release
