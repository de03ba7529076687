#pragma once
// The program's folder dialog: a folder tree with relabelled buttons, an optional
// "New Folder" button or check box, path box and size grip. One dialog at a time.
#include <QString>
#include <QWidget>
#include <cstdint>

namespace clipwren {

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

// The module's settings record, filled by the caller before BrowseForFolder.
// Defaults the dialog fills in are written back into it and stay.
BrowseSettings& browseSettings();

// Shows the dialog; returns the chosen folder's path, or empty text on cancel.
// The dialog runs through platform::dialogs().exec; its children carry object names
// (tree, okButton, cancelButton, newFolderButton, checkBox, pathBox, pathLabel, sizeGrip).
QString BrowseForFolder();

// The whole text of a window (a line edit's or a label's text, or a widget's title).
QString GetWindowTextAll(const QWidget* window);

}  // namespace clipwren
