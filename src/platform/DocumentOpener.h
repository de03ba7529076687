#pragma once
// Hands a document or a web address to the system's default viewer.
#include <QString>

namespace clipwren::platform {

enum class ShowCommand { Normal = 1, Maximized = 3 };

class DocumentOpener {
public:
    virtual ~DocumentOpener() = default;
    // Returns whether the system accepted the request; callers may ignore it.
    virtual bool open(const QString& documentOrUrl, const QString& workingFolder, ShowCommand show);
};

}  // namespace clipwren::platform
