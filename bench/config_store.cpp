// Writes a configuration store of 100 000 keys in nested groups, then loads it
// back and reads every key. Prints the time of each half. The same again with
// all keys in one group, which shows whether wide groups cost more than linear.
#include <chrono>
#include <cstdio>
#include <string>

#include "base/shared_functions.h"
#include "text/xml_config.h"

namespace {

struct Shape {
    const char* name;
    int groups, subGroups, keys;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string Section(int g, int s) { return "Bench.Group" + std::to_string(g) + ".Sub" + std::to_string(s); }
std::string Key(int k) { return "Key" + std::to_string(k); }
std::string Value(int g, int s, int k) {
    return "value <" + std::to_string(g) + "," + std::to_string(s) + "," + std::to_string(k) + "> & more";
}

}  // namespace

bool Run(const Shape& shape, const std::string& file) {
    const int kGroups = shape.groups, kSubGroups = shape.subGroups, kKeys = shape.keys;
    ::remove(file.c_str());

    auto start = std::chrono::steady_clock::now();
    {
        TXMLConfig cfg(file, true);
        for (int g = 0; g < kGroups; ++g)
            for (int s = 0; s < kSubGroups; ++s) {
                std::string section = Section(g, s);
                for (int k = 0; k < kKeys; ++k) cfg.WriteValue(section, Key(k), Value(g, s, k));
            }
        cfg.SaveFile();
    }
    double writeTime = Seconds(start);
    unsigned long long size = FileSize32(file);

    start = std::chrono::steady_clock::now();
    int wrong = 0;
    double loadTime = 0;
    {
        TXMLConfig cfg(file, false);
        loadTime = Seconds(start);
        for (int g = 0; g < kGroups; ++g)
            for (int s = 0; s < kSubGroups; ++s) {
                std::string section = Section(g, s);
                for (int k = 0; k < kKeys; ++k)
                    if (cfg.ReadValue(section, Key(k), "") != Value(g, s, k)) ++wrong;
            }
    }
    double readTime = Seconds(start);
    ::remove(file.c_str());

    std::printf("%s: %d keys, file %llu bytes\n", shape.name, kGroups * kSubGroups * kKeys, size);
    std::printf("write (create, %d WriteValue, SaveFile, free): %.3f s\n", kGroups * kSubGroups * kKeys, writeTime);
    std::printf("read  (load + parse %.3f s, %d ReadValue, free): %.3f s\n", loadTime, kGroups * kSubGroups * kKeys,
                readTime);
    if (wrong) std::printf("MISMATCHES: %d\n", wrong);
    return wrong == 0;
}

int main() {
    std::string file = JoinPath(GetAppTempFolder(), "bench_config_store.conf.xml");
    bool ok = Run({"nested (100 groups x 10 subgroups x 100 keys)", 100, 10, 100}, file);
    ok = Run({"flat (one group of 100000 keys)", 1, 1, 100000}, file) && ok;
    return ok ? 0 : 1;
}
