#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// One open file owned by one object and closed when it goes. Reads and writes resume after
// interruptions and short transfers; a failure keeps the system's error number, so callers
// can say why ("No space left on device").
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens for reading; the kernel is told the file will be read front to back. Never waits
    // for a FIFO's writer, so callers can refuse it with isRegular().
    bool openRead(const std::string& path);
    // Creates or truncates for writing.
    bool openWrite(const std::string& path);
    // Opens for reading and writing, creating the file when missing, never through a symbolic
    // link (ELOOP).
    bool openLockable(const std::string& path);
    // Opens an existing file only to lock it (for writing, which an NFS lock needs; nothing is
    // written), never through a symbolic link (ELOOP), never waiting for a FIFO's reader.
    bool openExistingLockable(const std::string& path);
    // Takes an exclusive lock, held until the file is closed; EWOULDBLOCK while another holds
    // one.
    bool tryLockExclusive();
    // Whether path (after links) leads to this open file.
    bool isAt(const std::string& path) const;
    bool isOpen() const { return fd_ >= 0; }
    // An open regular file (after links), not a device, FIFO, socket or folder.
    bool isRegular() const;

    // Up to `bytes` from the current position: the count read, 0 at the end, -1 on failure.
    long long readSome(void* target, std::size_t bytes);
    // Exactly `bytes` at `offset` unless the file ends or fails first; the count read.
    std::size_t readAt(std::uint64_t offset, void* target, std::size_t bytes);
    // Every byte at the current position, or false (a device that takes nothing is full).
    bool writeAll(const void* data, std::size_t bytes);
    // Every byte at `offset`, without moving the current position.
    bool writeAllAt(std::uint64_t offset, const void* data, std::size_t bytes);
    // The file's size, or -1.
    long long size();
    bool seek(std::uint64_t offset);

    // False when the system reported a failure at close (some file systems report a lost write
    // only there). Closing a closed file succeeds.
    bool close();

    // The error number of the last failure, 0 before any.
    int lastError() const { return error_; }

private:
    bool failed(int errorNumber);

    int fd_ = -1;
    int error_ = 0;
    bool writable_ = false;
};

// Why the system refuses data at path now: the error number of a write of one block past the
// true end of the regular file there, or of a fresh file made there and removed again, or of
// the failed open (EACCES, EROFS). 0 when the block is taken or the folder is gone. Never
// writes into a device, FIFO or socket, nor through a symbolic link: those give 0.
int writeRefusal(const std::string& path);

// Moves from onto to, replacing a file there: 0 or the system's error number.
int renameFile(const std::string& from, const std::string& to);

// The longest file name the folder takes, in bytes, at most 255; 255 when it cannot be asked
// (a folder not made yet).
std::size_t maxNameLength(const std::string& folder);

// head + tail, or, when that passes the folder's name limit, head cut short (never inside a
// UTF-8 character), a "~" and eight hexadecimal digits of the whole head, then tail: every name
// the file system takes gets its working files, and two long names stay apart.
std::string fitFileName(const std::string& folder, const std::string& head,
                        const std::string& tail);

// Removes the regular file at path (never a link, device or pipe) only while no process holds a
// lock on it: it takes the lock itself, and removes the name only while that still leads to the
// locked file. True when it removed it.
bool removeUnlockedFile(const std::string& path);

// This process's id.
long processId();

// Whether no process with this id runs now (kill(pid, 0) fails with ESRCH). False for an id no
// process can have, and while the process lives, even as a zombie.
bool processGone(long pid);

// For tests: the next close() of a file opened with openWrite() closes it and then fails with
// errorNumber, as a file system that loses a write at close does. 0 turns it off.
void failNextWriteCloseForTesting(int errorNumber);

// Raises this process's limit of open files to the most the system allows it: an export that
// writes many outputs at once holds two files for each.
void raiseOpenFileLimit();

// For tests: maxNameLength() takes `limit` as every folder's reported name limit (FAT's 1530)
// instead of asking the file system. 0 asks again.
void reportNameLimitForTesting(long limit);

// The system's text for an error number ("No space left on device").
std::string systemErrorText(int errorNumber);

}  // namespace platform
