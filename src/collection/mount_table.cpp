#include "collection/mount_table.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + static_cast<long>(i) + 1, field.begin() + static_cast<long>(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

std::vector<TMountEntry> ReadMountTable(const std::string& fileName) {
    std::vector<TMountEntry> mounts;
    std::ifstream in(fileName);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        TMountEntry m;
        if (!(fields >> m.device >> m.mountPoint >> m.type)) continue;
        m.device = UnescapeMountField(m.device);
        m.mountPoint = UnescapeMountField(m.mountPoint);
        mounts.push_back(std::move(m));
    }
    return mounts;
}
