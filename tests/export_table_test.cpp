// The export registry is the one list of exports: the header declares exactly
// its names, Ampora.def is its text, the Linux library and Ampora.dll export
// exactly its names with its ordinals and aliases, and the export-wide checks
// run every one of them. (That each name's C signature fits its entry is checked
// when the library compiles.)
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "frame/export_registry.h"
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

std::string FileText(const char* path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::set<std::string> RegistryNames() {
    std::set<std::string> names;
    for (const ExportEntry& e : kExports) names.emplace(e.name);
    return names;
}

TEST(ExportTable, HeaderDeclaresTheRegistryAndTheChecksRunIt) {
    const std::string header = FileText(AMPORA_HEADER);
    std::set<std::string> declared, run;
    const std::regex declaration(R"(AMPORA_CALL\s+(\w+)\s*\()");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), declaration); it != std::sregex_iterator(); ++it)
        declared.insert((*it)[1]);
    for (const ExportCall& call : AllExportCalls()) run.insert(call.name);
    EXPECT_EQ(declared, RegistryNames());
    EXPECT_EQ(run, RegistryNames());
    EXPECT_EQ(AllExportCalls().size(), kExportCount);
}

// The Windows build takes its export table from the .def: every name at its
// ordinal, an alias bound to its routine.
TEST(ExportTable, DefFileIsTheRegistry) {
    std::map<std::string_view, std::string_view> routineOf;
    for (const ExportAlias& a : kExportAliases) routineOf[a.alias] = a.routine;
    std::ostringstream def;
    def << "LIBRARY \"Ampora.dll\"\nEXPORTS\n";
    for (const ExportEntry& e : kExports) {
        def << "    " << e.name;
        if (routineOf.count(e.name)) def << " = " << routineOf[e.name];
        def << " @" << e.ordinal << "\n";
    }
    EXPECT_EQ(FileText(AMPORA_DEF_FILE), def.str());
}

TEST(ExportTable, SharedLibraryExportsExactlyTheRegistry) {
    const std::string out = RunCommand(std::string("nm -D --defined-only ") + AMPORA_SHARED_LIBRARY);
    std::set<std::string> exported;
    std::istringstream lines(out);
    std::string line;
    const std::regex text(R"(^[0-9a-f]+ [TW] (\w+)$)");
    std::smatch m;
    while (std::getline(lines, line))
        if (std::regex_match(line, m, text)) exported.insert(m[1]);
    // The library exports its routines and nothing of the run-time it uses.
    EXPECT_EQ(exported, RegistryNames());
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

    EXPECT_EQ(ordinalOfName.size(), kExportCount);
    for (const ExportEntry& e : kExports) {
        const std::string name(e.name);
        ASSERT_TRUE(ordinalOfName.count(name)) << name << " missing from the DLL";
        EXPECT_EQ(ordinalOfName[name], e.ordinal) << name;
    }
    for (const ExportAlias& a : kExportAliases) {
        const std::string alias(a.alias), routine(a.routine);
        EXPECT_EQ(addressOfOrdinal[ordinalOfName[alias]], addressOfOrdinal[ordinalOfName[routine]]) << alias;
    }
    // Only system DLLs are needed.
    EXPECT_EQ(out.find("libstdc++"), std::string::npos);
    EXPECT_EQ(out.find("libgcc"), std::string::npos);
    EXPECT_EQ(out.find("libwinpthread"), std::string::npos);
}

}  // namespace
