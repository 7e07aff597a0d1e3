// A full disk for real: the running test is started again in a child
// process with a private mount namespace (unshare) and a small tmpfs
// mounted for it, so nothing outside the test sees the mount. Where
// namespaces or mounts are not allowed (no root, a locked-down container)
// the test says why and is skipped.
//
//   const QString disk = TinyDisk::folder();
//   if (disk.isEmpty()) {
//       const QString skipped = TinyDisk::runThisTestInside("256k");
//       if (!skipped.isEmpty())
//           GTEST_SKIP() << skipped.toStdString();
//       return;
//   }
//   ... the test proper, writing into disk ...
#pragma once

#include <QString>

namespace TinyDisk {

// The mounted folder when this process is the run inside; empty otherwise.
QString folder();

// Runs the current test again on a tmpfs of `size` (as mount's size=
// option takes it) and checks that it passed; returns the reason when it
// could not be run, empty when it ran.
QString runThisTestInside(const char *size);

// Fills the file system holding `folder` until it takes no more, then
// frees `leaveBytes` again (rounded to its blocks). False when it could not.
bool fill(const QString &folder, qint64 leaveBytes = 0);

// Bytes still free for a file on the file system holding `folder`.
qint64 freeBytes(const QString &folder);

} // namespace TinyDisk
