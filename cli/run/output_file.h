// Output files that appear whole or not at all, and never at the cost of
// what the output's name stood for.
//
// A regular file (new, or one to replace) is written to a temporary file
// in the same directory and moved to its name only when everything is
// written, so a run that fails, or is interrupted, leaves no half-written
// file under the output's name and does not touch a file that was there
// before. The temporary has no name at all where the file system allows
// (it vanishes with the process, even one killed outright); elsewhere it
// is a hidden name beside the output. A replaced file keeps its permission
// bits (and, when the program may set them, its owner and group), and an
// output that is a symbolic link is written through to the link's target.
//
// The directory is held open from the start, and the temporary is made,
// moved and removed relative to it, so a directory renamed meanwhile
// takes the finished file, or loses the temporary, with it.
//
// Anything else (a device such as /dev/null, a FIFO, a socket, standard
// output, and an open descriptor named as /dev/stdout, /dev/fd/N or
// /proc/self/fd/N) is written directly, as it goes, and never replaced.
#pragma once

#include <string>
#include <vector>

#include "formats/byte_sink.h"

namespace zeverive::cli {

class OutputFile : public ByteSink {
public:
    // "-" is standard output. `inputs` are the files the run reads ("-"
    // for standard input); the output may be none of them, by any name or
    // link. `role` names the output in messages ("output", "preview").
    // Throws Failure naming the file when it may not or cannot be written,
    // or when the finished file could not be moved into place.
    OutputFile(const std::string& path, const std::vector<std::string>& inputs, const std::string& role = "output");
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Throw IoError when the system refuses; the caller names the frame.
    void write(const void* data, size_t size) override;
    void flush();
    // Writes out what is buffered and puts the file in place; throws
    // Failure naming the file.
    void commit();

    const std::string& name() const { return name_; }
    // Whether both replace or create the same file, by whatever names and
    // links, also one that does not exist yet.
    bool same_target(const OutputFile& other) const;

private:
    void open_descriptor(int fd, const std::vector<std::string>& inputs, const std::string& role);
    void open_direct(const std::string& target);
    void open_in_directory(const std::vector<std::string>& inputs, const std::string& role);
    void open_temporary(bool replaces);
    void link_into_place();

    std::string name_;
    std::string target_;     // the file that ends up written: links resolved
    int directory_ = -1;     // the target's directory, held open
    std::string base_;       // the target's name in it
    std::string temporary_;  // a named temporary in it, registered for signals
    int fd_ = -1;
    bool direct_ = false;    // written in place: a descriptor or not a regular file
    bool owns_fd_ = false;
    bool anonymous_ = false; // the temporary has no name until commit
    bool committed_ = false;
    std::vector<char> buffer_;
};

// Whether the two paths name the same existing regular file.
bool same_file(const std::string& a, const std::string& b);

// On SIGINT, SIGTERM and SIGHUP, and on the fault signals, removes the
// named temporary files of outputs not yet committed, then dies of the
// signal as it would have. Signals already handled or ignored are left to
// their handlers.
void remove_temporaries_on_signals();

}  // namespace zeverive::cli
