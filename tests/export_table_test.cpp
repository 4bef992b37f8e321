// The shipped export tables: every name the header declares is run by the
// export-wide checks and exported by the Linux library and by Ampora.dll, with
// its fixed ordinal (the names in byte-wise order count from 1), and nothing else is.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/export_calls.h"

namespace {

std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::set<std::string> HeaderNames() {
    std::ifstream header(AMPORA_HEADER);
    std::stringstream text;
    text << header.rdbuf();
    const std::string s = text.str();
    std::set<std::string> names;
    const std::regex declaration(R"(AMPORA_CALL\s+(\w+)\s*\()");
    for (auto it = std::sregex_iterator(s.begin(), s.end(), declaration); it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    return names;
}

constexpr std::size_t kExportCount = 89;
// Names bound to one routine each.
const char* const kAliases[][2] = {{"GetAvgValueExtSum", "GetAvgValueSum"}, {"GetGJ4Sum", "GetGJ6Sum"}};

int OrdinalOf(const std::set<std::string>& names, const std::string& name) {
    const auto it = names.find(name);
    return it == names.end() ? 0 : static_cast<int>(std::distance(names.begin(), it)) + 1;
}

TEST(ExportTable, HeaderDeclaresTheExportsTheChecksRun) {
    std::set<std::string> run;
    for (const ExportCall& call : AllExportCalls()) run.insert(call.name);
    EXPECT_EQ(HeaderNames().size(), kExportCount);
    EXPECT_EQ(HeaderNames(), run);
}

TEST(ExportTable, SharedLibraryExportsExactlyTheHeader) {
    const std::string out = RunCommand(std::string("nm -D --defined-only ") + AMPORA_SHARED_LIBRARY);
    std::set<std::string> exported;
    std::istringstream lines(out);
    std::string line;
    const std::regex text(R"(^[0-9a-f]+ [TW] (\w+)$)");
    std::smatch m;
    while (std::getline(lines, line))
        if (std::regex_match(line, m, text)) exported.insert(m[1]);
    // The library exports its routines and nothing of the run-time it uses.
    EXPECT_EQ(exported, HeaderNames());
}

TEST(ExportTable, DllNamesOrdinalsAndAliases) {
    const std::string dll = AMPORA_DLL_PATH;
    if (dll.empty()) GTEST_SKIP() << "this build was configured without the Windows library";
    ASSERT_TRUE(std::ifstream(dll).good()) << dll << " is missing";
    const std::string out = RunCommand("i686-w64-mingw32-objdump -p '" + dll + "'");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(\nName\s+[0-9a-f]+ (\S+))")));
    EXPECT_EQ(m[1], "Ampora.dll");
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(Ordinal Base\s+(\d+))")));
    const int base = std::stoi(m[1]);

    // Export address table: slot -> routine address; name table: name -> slot.
    std::map<int, std::string> addressOfOrdinal;
    const std::regex addressRow(R"(\[\s*\d+\] \+base\[\s*(\d+)\] ([0-9a-f]+) Export RVA)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), addressRow); it != std::sregex_iterator(); ++it)
        addressOfOrdinal[std::stoi((*it)[1])] = (*it)[2];
    const size_t table = out.find("[Ordinal/Name Pointer] Table");
    ASSERT_NE(table, std::string::npos);
    const std::string names = out.substr(table, out.find("\n\n", table) - table);
    std::map<std::string, int> ordinalOfName;
    const std::regex nameRow(R"(\[\s*(\d+)\] (\w+))");
    for (auto it = std::sregex_iterator(names.begin(), names.end(), nameRow); it != std::sregex_iterator(); ++it)
        ordinalOfName[(*it)[2]] = base + std::stoi((*it)[1]);

    const std::set<std::string> declared = HeaderNames();
    EXPECT_EQ(ordinalOfName.size(), declared.size());
    for (const std::string& name : declared) {
        ASSERT_TRUE(ordinalOfName.count(name)) << name << " missing from the DLL";
        EXPECT_EQ(ordinalOfName[name], OrdinalOf(declared, name)) << name;
    }
    for (const auto& pair : kAliases) {
        const std::string a(pair[0]), b(pair[1]);
        if (!ordinalOfName.count(a)) continue;
        EXPECT_EQ(addressOfOrdinal[ordinalOfName[a]], addressOfOrdinal[ordinalOfName[b]]) << a << " / " << b;
    }
    // Only system DLLs are needed.
    EXPECT_EQ(out.find("libstdc++"), std::string::npos);
    EXPECT_EQ(out.find("libgcc"), std::string::npos);
    EXPECT_EQ(out.find("libwinpthread"), std::string::npos);
}

}  // namespace
