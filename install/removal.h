// The installer's long work as a row of steps, and the uninstallation built from them.
//
// A window runs one step per posted message so it stays responsive; the StepRunner keeps the
// row, the position and the result, and turns a failure that escapes a step into a stopped run
// with a failed result, so a half-done installation or removal is never reported as success.
//
// The removal talks to the system only through a RemovalPort (files, folders, links, registry,
// shortcuts, questions): the program supplies the Win32 one, the tests a fake file system.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "install/rules.h"

namespace install {

enum class StepResult {
    Done,    // went well
    Failed,  // the result is a failure, the next step runs
    Stop     // the result is a failure and nothing after it runs
};
using Step = std::function<StepResult()>;

class StepRunner {
  public:
    // `report` is told about a failure that escaped a step (its text, or nullptr).
    using Reporter = std::function<void(const char* what)>;
    explicit StepRunner(std::vector<Step> steps = {}, Reporter report = nullptr);
    // The runner of the steps `prepare` makes. A failure while making them is not lost: the run
    // then holds one step, which reports it and stops the run failed.
    static StepRunner prepared(const std::function<std::vector<Step>()>& prepare,
                               Reporter report);

    // Runs the next step; false once there is none left (or the run stopped).
    bool runNext();
    bool finished() const { return stopped_ || next_ >= steps_.size(); }
    bool succeeded() const { return finished() && !failed_; }
    std::size_t position() const { return next_; }
    std::size_t size() const { return steps_.size(); }

  private:
    std::vector<Step> steps_;
    Reporter report_;
    std::size_t next_ = 0;
    bool failed_ = false;
    bool stopped_ = false;
};

struct FolderEntry {
    std::string name;
    bool folder = false;
    bool link = false;  // a reparse point: a junction, a symbolic link, a mount point
};

class RemovalPort {
  public:
    virtual ~RemovalPort() = default;
    virtual bool exists(const std::string& path) = 0;
    virtual bool isLink(const std::string& path) = 0;
    virtual bool deleteFile(const std::string& path) = 0;
    // The entries of a folder (path ending in "\"), without "." and "..".
    virtual std::vector<FolderEntry> list(const std::string& folder) = 0;
    // Removes an empty folder, or a link to a folder without touching what it points at.
    virtual bool removeFolder(const std::string& path) = 0;
    // Deletes a key with all its sub-keys; true when it is gone (or was never there).
    virtual bool deleteKeyTree(RegRoot root, const std::string& subKey) = 0;
    // Deletes the installation's own entry of the list of programs; true when it is gone or
    // belongs to another installation (which is left alone).
    virtual bool deleteUninstallEntry() = 0;
    // Removes the shortcuts of one place; true when none is left.
    virtual bool removeShortcuts(Place place) = 0;
    // One message box; returns the answer (core::kAnswer*).
    virtual int message(const std::string& text, const std::string& caption, unsigned style) = 0;
};

struct RemovalPlan {
    const Description* description = nullptr;
    std::string title;
    std::string installDir;  // ends in "\"
    std::string descriptionName, installerName;
    bool dbcs = false;
};

// The removal in its order: the Reg keys, the files from the last entry down, the folder tree,
// the entry of the list of programs, the shortcuts of the three places. Folder links are never
// entered: the link is removed, never what it points at, and a file is not deleted through one.
std::vector<Step> removalSteps(const RemovalPlan& plan, RemovalPort& port);

}  // namespace install
