// The library as its callers link against it: the 106 operations under the
// names they are exported by, nothing internal beyond what the public
// headers declare, and loading that leaves the device root as it was.
#include <cxxabi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "msgstore/msgstore.h"

namespace {

namespace fs = std::filesystem;

// The functions a public header declares at its top level, in order, each
// with whether it is declared extern "C" (exported under its plain name).
std::vector<std::pair<std::string, bool>> Declared(const char* header) {
  std::ifstream in(std::string(MSGSTORE_HEADERS) + "/" + header);
  std::vector<std::pair<std::string, bool>> out;
  bool inBlock = false;  // within an extern "C" { ... } block
  for (std::string line; std::getline(in, line) && line.rfind("namespace", 0) != 0;) {
    inBlock = line == "extern \"C\" {" || (inBlock && line.rfind('}', 0) != 0);
    const bool externC = line.rfind("extern \"C\" MSGSTORE_API ", 0) == 0;
    const size_t open = line.find('(');
    if ((!externC && line.rfind("MSGSTORE_API ", 0) != 0) || open == std::string::npos) continue;
    const size_t name = line.rfind(' ', open) + 1;
    out.emplace_back(line.substr(name, open - name), inBlock || externC);
  }
  return out;
}

// The defined dynamic symbols of the built library, as they are and demangled.
std::vector<std::pair<std::string, std::string>> ExportedSymbols() {
  std::vector<std::pair<std::string, std::string>> symbols;
  const std::string command = std::string("nm -D --defined-only '") + MSGSTORE_LIBRARY + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> nm(::popen(command.c_str(), "r"), ::pclose);
  char symbol[4096];  // each line: address, type, name
  while (nm && std::fscanf(nm.get(), "%*s %*c %4095s", symbol) == 1) {
    int status = -1;
    std::unique_ptr<char, void (*)(void*)> text(
        abi::__cxa_demangle(symbol, nullptr, nullptr, &status), std::free);
    symbols.emplace_back(symbol, status == 0 && text ? text.get() : symbol);
  }
  return symbols;
}

// Each of the 106 operations of the store headers is exported once per
// declaration: plain, or as "_Z", the length of the name, the name, then the
// parameter types. Beside them only the platform header's functions, its
// msgstore namespace and the standard templates its inline code needs.
TEST(Exports, EveryOperationUnderItsPlainOrDecoratedNameAndNothingInternal) {
  std::map<std::pair<std::string, bool>, size_t> declared, exported;
  std::multiset<std::string> operations;  // a name declared twice counts twice
  std::set<std::string> platform;
  for (const char* header : {"ems.h", "mms.h", "email.h"})
    for (const auto& op : Declared(header)) {
      // Plain: the MMS store's, and the inbox counts.
      EXPECT_EQ(op.second,
                op.first.rfind("MMSMsgStore_", 0) == 0 ||
                    (op.first.rfind("Get", 0) == 0 && op.first.find("Inbox") != std::string::npos))
          << op.first;
      ++declared[op];
      operations.insert(op.first);
    }
  ASSERT_EQ(operations.size(), 106u);
  for (const auto& op : Declared("platform.h")) platform.insert(op.first);
  ASSERT_EQ(platform.size(), 27u);
  const auto symbols = ExportedSymbols();
  ASSERT_GT(symbols.size(), 130u) << "nm found too little";
  for (const auto& [symbol, name] : symbols) {
    for (const auto& [op, count] : declared) {
      const std::string decorated = "_Z" + std::to_string(op.first.size()) + op.first;
      if (op.second ? symbol == op.first
                    : symbol.rfind(decorated, 0) == 0 && symbol.size() > decorated.size())
        ++exported[op];
    }
    const std::string function = name.substr(0, name.find('('));
    EXPECT_TRUE(operations.count(function) || platform.count(function) ||
                name.rfind("msgstore::", 0) == 0 ||
                name.find(" for msgstore::") != std::string::npos ||
                name.find("std::") != std::string::npos)
        << "exported but not declared public: " << name;
  }
  EXPECT_EQ(exported, declared);
}

// Loads and unloads the library in a process of its own that calls nothing.
TEST(Exports, LoadingTouchesNothingUnderTheDeviceRoot) {
  const fs::path scratch =
      fs::temp_directory_path() / ("msgstore-load-" + std::to_string(::getpid()));
  fs::remove_all(scratch);
  ASSERT_TRUE(fs::create_directories(scratch / "home"));
  const std::string command = "env -u XDG_DATA_HOME MSGSTORE_ROOT='" + (scratch / "root").string() +
                              "' HOME='" + (scratch / "home").string() +
                              "' '" MSGSTORE_LOAD_ONLY "' '" MSGSTORE_LIBRARY "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_FALSE(fs::exists(scratch / "root"));
  EXPECT_TRUE(fs::is_empty(scratch / "home"));
  fs::remove_all(scratch);
}

}  // namespace
