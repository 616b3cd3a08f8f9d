// Output files that appear whole or not at all.
//
// A file is written under a temporary name in the same directory and
// renamed to its real name only when everything is written, so a run that
// fails, or is interrupted, leaves no half-written file under the output's
// name and does not touch a file that was there before.
#pragma once

#include <string>
#include <vector>

#include "byte_sink.h"

namespace zeverive::cli {

class OutputFile : public ByteSink {
public:
    // "-" is standard output, written as it goes. Throws Failure if `path`
    // is one of `must_not_replace` (the inputs), a directory, or cannot be
    // created.
    OutputFile(const std::string& path, const std::vector<std::string>& must_not_replace);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const void* data, size_t size) override;
    // Writes out what is buffered and moves the file to its name.
    void commit();

    const std::string& name() const { return name_; }

private:
    void flush();

    std::string path_;
    std::string name_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
    std::vector<char> buffer_;
};

// Whether the two paths name the same existing file.
bool same_file(const std::string& a, const std::string& b);

// On SIGINT, SIGTERM and SIGHUP, and on the fault signals, removes the
// temporary files of outputs not yet committed, then dies of the signal as
// it would have.
void remove_temporaries_on_signals();

}  // namespace zeverive::cli
