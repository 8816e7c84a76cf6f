#pragma once
// What the Unix half of the disk code shares beyond fileio.h.

#include <QByteArray>

#include <atomic>
#include <string_view>

namespace kesto::fileio {

// The folder part of a path in the system's own terms ("." for a bare name).
QByteArray folderOf(const QByteArray &path);

// Closes its descriptor when it goes.
struct Descriptor {
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor();
    int fd;
};

// Writes all of `bytes`, going on after a signal; gives up as soon as
// `abandoned` (when given) turns true.
bool writeAll(int fd, std::string_view bytes, const std::atomic<bool> *abandoned = nullptr);

} // namespace kesto::fileio
