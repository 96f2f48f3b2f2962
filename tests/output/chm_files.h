#pragma once
// Every file of a compiled file, read back through chmlib.
#include <chm_lib.h>

#include <map>
#include <string>

inline std::map<std::string, std::string> ReadChmFiles(const std::string& fileName) {
    std::map<std::string, std::string> files;
    chmFile* chm = chm_open(fileName.c_str());
    if (!chm) return files;
    chm_enumerate(
        chm, CHM_ENUMERATE_ALL,
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
