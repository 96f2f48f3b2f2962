#pragma once
// Reads a zip archive back for the checks: member names and texts.
#include <zip.h>

#include <map>
#include <string>

struct ZipMember {
    std::string text;
    int method = -1;
};

inline std::map<std::string, ZipMember> ReadZip(const std::string& path) {
    std::map<std::string, ZipMember> members;
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &err);
    if (!za) return members;
    zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) != 0) continue;
        ZipMember m;
        m.method = st.comp_method;
        zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
        if (f) {
            char buf[4096];
            zip_int64_t got;
            while ((got = zip_fread(f, buf, sizeof buf)) > 0) m.text.append(buf, static_cast<std::size_t>(got));
            zip_fclose(f);
        }
        members[st.name] = m;
    }
    zip_close(za);
    return members;
}
