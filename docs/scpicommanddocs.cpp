// Checks that the pages name every command of the instrument's command table, and nothing else
// as a command (the test scpi_command_docs, through scripts/docs-check.sh).
// Usage: tx4410_scpi_command_docs PAGE... < ENTRIES
// Each line of ENTRIES is "PAGE<TAB>HEADER", a header as a page writes it: the short form in
// capitals, "[...]" around what may be left out, "<n>" for a channel's number, "?" after a
// query ("[SOURce<n>:]VOLTage:CODE", "MEASure<n>:VOLTage[:DC]?", "*ESE").
#include "scpicommands.h"

#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The header with every optional part in and each "<n>" as 1, or with every optional part out
// and no number; empty when its brackets do not pair.
std::string written(const std::string &header, bool withOptional)
{
    std::string text;
    int depth = 0;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const char c = header[i];
        depth += c == '[' ? 1 : c == ']' ? -1 : 0;
        if (depth < 0)
            return {};
        if (header.compare(i, 3, "<n>") == 0) {
            text += withOptional ? "1" : "";
            i += 2;
        } else if (c != '[' && c != ']' && (withOptional || depth == 0)) {
            text += c;
        }
    }
    return depth == 0 ? text : std::string();
}

// The row the text names in the form it is written in (a query or a setting), or nullptr.
const Scpi::CommandRow *named(const std::string &text)
{
    const Scpi::Unit unit = Scpi::readUnit(text);
    int suffix = 0;
    const Scpi::CommandRow *row = unit.error == 0 && unit.dataCount == 0
            ? Scpi::findCommand(unit, unit.nodes.data(), unit.nodeCount, suffix)
            : nullptr;
    return row != nullptr && (row->forms & (unit.query ? Scpi::Queries : Scpi::Sets)) != 0
            ? row
            : nullptr;
}

// The mnemonics of a header or pattern, as spelt: "VOLTage", "LEVel".
std::set<std::string> words(const std::string &text)
{
    std::set<std::string> found;
    std::string word;
    for (const char c : text + ' ') {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            word += c;
        } else if (!word.empty()) {
            found.insert(word);
            word.clear();
        }
    }
    return found;
}

// The row a page's header names, with every node spelt as the table spells it; nullptr for none.
const Scpi::CommandRow *rowOf(const std::string &header)
{
    const Scpi::CommandRow *full = named(written(header, true));
    if (full == nullptr || named(written(header, false)) != full)
        return nullptr;
    const std::set<std::string> table = words(full->pattern);
    for (const std::string &word : words(header)) {
        if (word != "n" && !table.contains(word))
            return nullptr;
    }
    return full;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> pages(argv + 1, argv + argc);
    std::map<std::string, std::set<const Scpi::CommandRow *>> documented;
    int problems = 0;
    for (std::string line; std::getline(std::cin, line);) {
        const std::size_t tab = line.find('\t');
        const std::string page = line.substr(0, tab);
        const std::string header = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        const Scpi::CommandRow *row = rowOf(header);
        if (row == nullptr) {
            std::cout << page << ": \"" << header
                      << "\" names no command of scpi/scpicommands.h as the table spells it\n";
            ++problems;
            continue;
        }
        documented[page].insert(row);
    }
    for (const std::string &page : pages) {
        for (const Scpi::CommandRow &row : Scpi::commandTable) {
            if (!documented[page].contains(&row)) {
                std::cout << page << " lacks " << row.pattern
                          << (row.forms == Scpi::Queries ? "?" : "")
                          << " (see \"Adding a command\" in docs/development.md)\n";
                ++problems;
            }
        }
    }
    if (problems > 0 || pages.empty())
        return 1;
    std::cout << std::size(Scpi::commandTable) << " commands, each named in";
    for (const std::string &page : pages)
        std::cout << ' ' << page;
    std::cout << '\n';
}
