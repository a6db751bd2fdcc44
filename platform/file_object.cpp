// Closing an open file.
#include "platform/file_object.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vandrel::win::detail {

FileObject::~FileObject() {
  // Every other open shares delete (it could not exist otherwise), so the
  // name goes now, when it still names this file.
  if (delete_on_close_) {
    struct stat mine {};
    struct stat named {};
    if (fstat(fd_, &mine) == 0 && lstat(path_.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
      unlink(path_.c_str());
    }
  }
  close(fd_);
}

}  // namespace vandrel::win::detail
