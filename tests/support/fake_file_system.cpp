#include "tests/support/fake_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

// An open file: its node, and for the writers a real temporary file behind
// the stream, poured into the node when it is closed.
class FakeFileSystem::OpenFile final : public File {
  public:
    OpenFile(FakeFileSystem &system, std::shared_ptr<Node> node, bool append)
        : system_(system), node_(std::move(node)), append_(append) {}
    ~OpenFile() override { close(); }

    bool read(char *data, size_t size, size_t &count) override {
        count = position_ < node_->data.size() ? node_->data.copy(data, size, position_) : 0;
        position_ += count;
        return true;
    }
    long long write(const char *data, size_t size) override {
        position_ = append_ ? node_->data.size() : position_;
        const auto count = static_cast<size_t>(std::min<uint64_t>(size, system_.room));
        if (count == 0 && size > 0) {
            errno = ENOSPC;
            return -1;
        }
        system_.room -= count;
        node_->data.resize(std::max(node_->data.size(), position_ + count));
        node_->data.replace(position_, count, data, count);
        position_ += count;
        return static_cast<long long>(count);
    }
    bool seek(uint64_t offset) override {
        position_ = static_cast<size_t>(offset);
        return true;
    }
    bool status(FileStatus &status) override {
        status = status_of(*node_);
        return true;
    }
    bool truncate(uint64_t length) override {
        system_.room += node_->data.size() > length ? node_->data.size() - length : 0;
        node_->data.resize(static_cast<size_t>(length));
        return true;
    }
    std::FILE *stream() override {
        stream_ = stream_ != nullptr ? stream_ : std::tmpfile();
        return stream_;
    }
    bool close() override {
        bool whole = true;
        if (stream_ != nullptr) {
            std::rewind(stream_);
            char chunk[4096];
            for (size_t count = 0; whole && (count = std::fread(chunk, 1, sizeof chunk, stream_)) > 0;) {
                whole = write(chunk, count) == static_cast<long long>(count);
            }
            std::fclose(stream_);
            stream_ = nullptr;
            errno = whole ? errno : ENOSPC;
        }
        return whole;
    }

  private:
    FakeFileSystem &system_;
    std::shared_ptr<Node> node_;
    bool append_;
    size_t position_ = 0;
    std::FILE *stream_ = nullptr;
};

void FakeFileSystem::remove_directory(const std::string &name) {
    directories_.erase(name);
    for (auto i = files_.begin(); i != files_.end();) {
        i = i->first.rfind(name + "/", 0) == 0 ? files_.erase(i) : std::next(i);
    }
}

void FakeFileSystem::write(const std::string &name, const std::string &text, bool append) {
    const std::shared_ptr<Node> node = file(name, true);
    node->data = (append ? node->data : "") + text;
}

std::vector<std::string> FakeFileSystem::files() const {
    std::vector<std::string> names;
    for (const auto &file : files_) {
        names.push_back(file.first);
    }
    return names;
}

std::shared_ptr<FakeFileSystem::Node> FakeFileSystem::file(const std::string &name, bool may_make, bool may_exist) {
    const auto found = files_.find(name);
    if (found != files_.end()) {
        errno = EEXIST;
        return may_exist ? found->second : nullptr;
    }
    const size_t slash = name.rfind('/');
    errno = ENOENT;
    if (!may_make || !is_directory(slash == std::string::npos ? "" : name.substr(0, slash))) {
        return nullptr;
    }
    return files_[name] = std::make_shared<Node>(Node{FileKind::regular, next_inode_++, ""});
}

bool FakeFileSystem::status(const char *name, FileStatus &status) {
    const std::shared_ptr<Node> node = file(name, false);
    if (node != nullptr) {
        status = status_of(*node);
    }
    return node != nullptr;
}

std::unique_ptr<File> FakeFileSystem::open(const std::shared_ptr<Node> &node, bool append) {
    return node != nullptr ? std::make_unique<OpenFile>(*this, node, append) : nullptr;
}

bool FakeFileSystem::replace(const char *from, const char *to, char *reason, size_t reason_size) {
    const std::shared_ptr<Node> node = file(from, false);
    const bool replaced = node != nullptr && file(to, true) != nullptr;
    if (replaced) {
        files_.erase(from);
        files_[to] = node;
    } else {
        std::snprintf(reason, reason_size, "%s", std::strerror(errno));
    }
    return replaced;
}

bool FakeFileSystem::remove(const char *name) {
    errno = ENOENT;
    return files_.erase(name) > 0;
}
