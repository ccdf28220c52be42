// An in-memory FileSystem for the unit tests, which fails where a test
// says: a disk that fills up, a directory that goes away, a name that
// becomes a pipe. Names are paths with '/' under a root that is always
// there; a file's directory must be there, and a directory's name is no
// file. An open file keeps its file when its name goes, as on POSIX
// systems. Standard input is the file named "-". It cannot tell whether two
// names are one file, and follows no link.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analyze/files/system.h"

class FakeFileSystem final : public FileSystem {
  public:
    // The bytes the disk has room for: each write takes from it, and one
    // that finds none fails with ENOSPC (one that finds too little is cut
    // short). A file cut shorter gives room back.
    uint64_t room = UINT64_MAX;

    void make_directory(const std::string &name) { directories_.insert(name); }
    // With the files in it (a test makes no directory in another).
    void remove_directory(const std::string &name);
    // Into the file by the name (as fopen "wb" or "ab" does), else a new one.
    void write(const std::string &name, const std::string &text, bool append = false);
    // A pipe by the name, where there was nothing.
    void make_fifo(const std::string &name) { file(name, true)->kind = FileKind::other; }
    // The file's bytes, "" when there is none.
    std::string text(const std::string &name) const { return files_.count(name) > 0 ? files_.at(name)->data : ""; }
    // Every file's name, sorted.
    std::vector<std::string> files() const;

    bool status(const char *name, FileStatus &status) override;
    // Whatever is there, this process may read and write.
    bool may_read(const char * /*name*/) override { return true; }
    bool may_write(const char * /*name*/) override { return true; }
    std::unique_ptr<File> open_to_read(const char *name) override { return open(file(name, false), false); }
    std::unique_ptr<File> open_without_waiting(const char *name) override { return open_to_read(name); }
    std::unique_ptr<File> standard_input() override { return open_to_read("-"); }
    std::unique_ptr<File> create_new(const char *name, const FileStatus * /*replaced*/) override {
        return open(file(name, true, false), false);
    }
    std::unique_ptr<File> open_to_write(const char *name) override { return open(file(name, true), false); }
    std::unique_ptr<File> open_to_append(const char *name) override { return open(file(name, true), true); }
    bool replace(const char *from, const char *to, char *reason, size_t reason_size) override;
    bool remove(const char *name) override;
    Sameness same_file(const char * /*a*/, const char * /*b*/) override { return Sameness::unknown; }
    bool resolve_link(const char * /*name*/, char * /*path*/, size_t /*size*/) override { return false; }
    unsigned long process_id() override { return 1; }

  private:
    struct Node {
        FileKind kind;
        uint64_t inode;
        std::string data;
    };
    class OpenFile;

    bool is_directory(const std::string &name) const { return name.empty() || directories_.count(name) > 0; }
    static FileStatus status_of(const Node &node) { return {node.kind, node.data.size(), true, 1, node.inode, 0644}; }
    // The file by the name, made if need be and may_make; else nullptr with errno.
    std::shared_ptr<Node> file(const std::string &name, bool may_make, bool may_exist = true);
    std::unique_ptr<File> open(const std::shared_ptr<Node> &node, bool append);

    std::map<std::string, std::shared_ptr<Node>> files_;
    std::set<std::string> directories_;
    uint64_t next_inode_ = 1;
};
