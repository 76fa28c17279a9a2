#include "aux_lock_elsewhere.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t holderPid = -1;
int releaseFd = -1;

bool lockWholeFile(const char* filePath, int command) {
    int fd = open(filePath, O_RDWR);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return fd >= 0 && fcntl(fd, command, &whole) == 0;
}

}  // namespace

bool lockElsewhere(const std::string& filePath) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) {
        return false;
    }
    holderPid = fork();
    if (holderPid == 0) {
        close(ready[0]);
        close(release[1]);
        char ok = lockWholeFile(filePath.c_str(), F_SETLKW) ? 'y' : 'n';
        // Hold the lock until the parent closes its end of the release pipe.
        if (write(ready[1], &ok, 1) == 1) {
            char any;
            while (read(release[0], &any, 1) > 0) {
            }
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    releaseFd = release[1];
    char ok = 'n';
    bool holding = holderPid > 0 && read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
    return holding;
}

void unlockElsewhere() {
    if (releaseFd >= 0) {
        close(releaseFd);
        releaseFd = -1;
    }
    if (holderPid > 0) {
        waitpid(holderPid, NULL, 0);
        holderPid = -1;
    }
}

bool canLockElsewhere(const std::string& filePath) {
    pid_t pid = fork();
    if (pid == 0) {
        _exit(lockWholeFile(filePath.c_str(), F_SETLK) ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
