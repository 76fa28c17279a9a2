#include "file_util.hpp"

#include "const.hpp"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/sync/file_lock.hpp>
#include <boost/interprocess/sync/scoped_lock.hpp>

#include <exception>
#include <iostream>
#include <stdexcept>

#ifdef _WIN32
// Boost.Interprocess builds an all-access security descriptor (ADVAPI32) in a
// static initialiser, before main, in every program that includes it. The
// lock probe opens its file with default security and never asks for it: not
// instantiating it here keeps ADVAPI32 out of every start, and a later use of
// unrestricted permissions fails to link rather than bringing it back unseen.
extern template struct boost::interprocess::ipcdetail::unrestricted_permissions_holder<0>;
#endif

int fileLock(const char* filePath) {
    int waitSeconds = 1;
    try {
        boost::interprocess::file_lock lock(filePath);
        boost::posix_time::ptime deadline = boost::posix_time::second_clock::universal_time() +
                                            boost::posix_time::seconds(waitSeconds);
        if (!lock.timed_lock(deadline)) {
            throw std::runtime_error("lock is failed.");
        }
        // Unlock explicitly: Windows may release the lock of a closed handle only later.
        boost::interprocess::scoped_lock<boost::interprocess::file_lock> owner(
            lock, boost::interprocess::accept_ownership);
        std::cout << "file locked." << std::endl;
    } catch (const std::exception& e) {
        std::cout << e.what() << std::endl;
    }
    return OK;
}
