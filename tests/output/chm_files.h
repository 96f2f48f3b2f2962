#pragma once
// The files of a compiled file with their bytes, read back through chmlib;
// what picks them as chm_enumerate takes it (every file, by default).
#include <chm_lib.h>

#include <map>
#include <string>

inline std::map<std::string, std::string> ReadChmFiles(const std::string& fileName, int what = CHM_ENUMERATE_ALL) {
    std::map<std::string, std::string> files;
    chmFile* chm = chm_open(fileName.c_str());
    if (!chm) return files;
    chm_enumerate(
        chm, what,
        [](chmFile* h, chmUnitInfo* ui, void* context) -> int {
            std::string bytes(static_cast<std::size_t>(ui->length), '\0');
            if (ui->length > 0)
                chm_retrieve_object(h, ui, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                    static_cast<LONGINT64>(ui->length));
            (*static_cast<std::map<std::string, std::string>*>(context))[ui->path] = bytes;
            return CHM_ENUMERATOR_CONTINUE;
        },
        &files);
    chm_close(chm);
    return files;
}
