#pragma once
// The rows of a query on a campaign's database, each as its columns' text
// joined by '|' (NULL for a null), for the tests to compare whole.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

inline std::vector<std::string> sqliteRows(const std::string& db, const std::string& sql)
{
    sqlite3* h = nullptr;
    EXPECT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    std::vector<std::string> rows;
    sqlite3_exec(
        h, sql.c_str(),
        [](void* out, int n, char** v, char**) {
            std::string row;
            for (int i = 0; i < n; ++i) row += (i ? "|" : "") + std::string(v[i] ? v[i] : "NULL");
            static_cast<std::vector<std::string>*>(out)->push_back(row);
            return 0;
        },
        &rows, nullptr);
    sqlite3_close(h);
    return rows;
}
