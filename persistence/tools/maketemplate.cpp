// SPDX-License-Identifier: GPL-3.0-or-later
// Build-time tool: creates the template database from its SQL schema.
// Usage: quenta_maketemplate <schema.sql> <output.db>
// Writes to a temporary file first so an interrupted build never leaves a half-made
// template that a later build would take as up to date.

#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <schema.sql> <output.db>\n", argv[0]);
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream schema;
    schema << input.rdbuf();

    const std::string output = argv[2];
    const std::string partial = output + ".partial";
    std::remove(partial.c_str());

    sqlite3 *db = nullptr;
    if (sqlite3_open(partial.c_str(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot create %s: %s\n", partial.c_str(), sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    char *error = nullptr;
    const std::string script = "begin;\n" + schema.str() + "\ncommit;";
    if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "schema failed: %s\n", error ? error : "unknown error");
        sqlite3_free(error);
        sqlite3_close(db);
        std::remove(partial.c_str());
        return 1;
    }
    sqlite3_close(db);
    if (std::rename(partial.c_str(), output.c_str()) != 0) {
        std::perror("rename");
        return 1;
    }
    return 0;
}
