#include "image/target.hpp"

#include <cstdio>

#include "os/os.hpp"
#include "scene/scene.hpp"

namespace fotolume {

std::string whyNotReplaceable(const std::string& target, bool exists) {
    int error = 0;
    const std::string folder = os::folderOf(target);
    switch (os::replacementObstacle(target, exists, error)) {
    case os::Obstacle::Folder:
        return os::errorText(error) + ": the folder " + printable(folder) + " may not be written";
    case os::Obstacle::StickyFolder:
        return "in the sticky folder " + printable(folder) + " only its owner may replace it";
    case os::Obstacle::Mounted:
        return "a file is mounted on it";
    case os::Obstacle::None:
        break;
    }
    return "";
}

std::string temporaryPrefix(const std::string& target) {
    const std::string folder = os::folderOf(target);
    std::string base = target.substr(target.find_last_of(os::SEPARATORS) + 1);
    if (base.size() > 200) base.resize(200);
    return folder + os::SEPARATOR + "." + base + ".fotolume-";
}

void removeStaleTemporaries(const std::string& target, bool networked, long long owner) {
    for (const auto& [path, removed] :
         os::removeStaleTemporaries(temporaryPrefix(target), networked, owner)) {
        if (!removed)
            std::fprintf(stderr,
                         "fotolume: left %s, which may be an incomplete image of a run that "
                         "was killed: on a network file system another machine's run may be "
                         "writing it, so remove it by hand if none is\n",
                         printable(path).c_str());
        else
            std::fprintf(stderr,
                         "fotolume: removed %s, an incomplete image left by a run that was "
                         "killed\n",
                         printable(path).c_str());
    }
}

}  // namespace fotolume
