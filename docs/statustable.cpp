// Prints the table of board statuses for docs/statuses.md from the one table the programs read,
// so that the page and the code cannot drift apart (the test status_table compares them).
#include "statustexts.h"

#include <cstdio>

int main()
{
    std::puts("| status | name | what it means | what to do |");
    std::puts("|---|---|---|---|");
    for (const StatusTexts::Row &row : StatusTexts::rows) {
        std::printf("| %d | `%s` | %s | %s |\n", static_cast<int>(row.status), row.name,
                    row.meaning, *row.fix != '\0' ? row.fix : "");
    }
}
