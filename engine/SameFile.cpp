#include "SameFile.h"

#include <filesystem>
#include <system_error>

namespace kelvorin {

namespace {

namespace fs = std::filesystem;

// NAME made absolute, with the symbolic links of its existing folders
// resolved and "." and ".." taken out. (Made absolute first: a relative
// name whose first part does not exist would stay relative, and "r.txt"
// would not meet "/folder/r.txt".)
fs::path NormalPath(const std::string& name) {
    std::error_code error;
    const fs::path absolute = fs::absolute(name, error).lexically_normal();
    if (error) return fs::path(name).lexically_normal();
    fs::path path = fs::weakly_canonical(absolute, error);
    return error ? absolute : path;
}

// NAME with the symbolic links of its last part followed, also when they
// lead to no file yet: a file opened under NAME is created where they lead.
std::string FollowLinks(const std::string& name) {
    std::error_code error;
    fs::path path = fs::absolute(name, error);
    if (error) return name;
    for (int hops = 0; hops < 40; ++hops) {
        const fs::file_status link = fs::symlink_status(path, error);
        if (error || !fs::is_symlink(link)) break;
        const fs::path target = fs::read_symlink(path, error);
        if (error) break;
        // A relative target is taken from the folder that holds the link.
        path = target.is_absolute() ? target : fs::weakly_canonical(path.parent_path(), error) / target;
        if (error) break;
    }
    return path.string();
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    const fs::file_status first = fs::status(a, error);
    const fs::file_status second = fs::status(b, error);
    const bool firstExists = fs::exists(first), secondExists = fs::exists(second);
    if (firstExists != secondExists) return false;
    if (!firstExists) return NormalPath(FollowLinks(a)) == NormalPath(FollowLinks(b));
    if (!fs::is_regular_file(first) || !fs::is_regular_file(second)) return false;
    return fs::equivalent(a, b, error) && !error;
}

}  // namespace kelvorin
