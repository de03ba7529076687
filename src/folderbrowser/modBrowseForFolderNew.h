#pragma once
// The program's folder dialog: a folder tree with relabelled buttons, an optional
// "New Folder" button or check box, path box and size grip.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

namespace clipwren {

namespace platform {
class DialogProvider;
}

struct BrowseSettings {
    QString Caption;
    QString Prompt;
    QString InitialFolder;
    QString OkCaption;
    QString CancelCaption;
    QString NewFolderCaption;
    QString CheckBoxCaption;
    int32_t RootFolder = 0;
    QWidget* OwnerWindow = nullptr;
    bool ShowSizeGrip = false;
    bool CenterOnScreen = false;
    bool LargeSize = false;
    bool FullScreenSize = false;
    bool ShowNewFolderButton = false;
    bool ShowCheckBox = false;
    bool ShowEditBox = false;
    bool ShowPathBox = false;
    bool ShowStatusText = false;
    bool IncludeFiles = false;
    bool CheckBoxValue = false;
};

// One folder dialog at a time: the settings the caller fills in before BrowseForFolder,
// and what the open dialog works on. Defaults the dialog fills in are written back
// into the settings and stay for the next call.
class modBrowseForFolderNew {
public:
    // The dialog, the input box and the messages run through dialogs.
    explicit modBrowseForFolderNew(platform::DialogProvider& dialogs);
    ~modBrowseForFolderNew();
    modBrowseForFolderNew(const modBrowseForFolderNew&) = delete;
    modBrowseForFolderNew& operator=(const modBrowseForFolderNew&) = delete;

    BrowseSettings& Settings();
    // Shows the dialog; returns the chosen folder's path, or empty text on cancel.
    QString BrowseForFolder();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The whole text of a window (a line edit's or a label's text, or a widget's title).
QString GetWindowTextAll(const QWidget* window);

}  // namespace clipwren
