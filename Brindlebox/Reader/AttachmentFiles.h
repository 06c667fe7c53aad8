#pragma once

#include "Mime/MailAttachment.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <optional>

class QWidget;

namespace bx {

// Where attachments go when the user previews or saves them.
struct AttachmentFiles {
  // The name a file is written under: the MIME name cleaned to one path
  // component (at most 120 characters and 150 UTF-8 bytes, no direction
  // controls), "attachment" when nothing is left.
  static QString cleanName(const std::string& filename);

  // Writes the attachment for a preview into this run's private folder
  // (0700, below the user's private temporary folder) and returns its path;
  // nullopt when writing failed. The file is made 0600 under a fresh name and
  // renamed into place, so a link planted under the final name is replaced,
  // never followed.
  static std::optional<std::filesystem::path> temporaryURL(const MailAttachment& attachment,
                                                           const std::string& messagePath);

  // This run's folder (created on first use) and the folder of all runs.
  static std::filesystem::path attachmentsRoot();
  static std::filesystem::path runFolder();
  // Removes this run's folder; runs at quit.
  static void removeRunFolder();
  // Removes the folders of runs whose process is gone; runs at start.
  static void removeLeftovers();

  // Asks where to save (the save dialog, named with the cleaned name), writes
  // the data beside the target and renames it into place, and returns the
  // name the user chose; nothing when cancelled or when writing failed (then
  // a warning alert says so).
  static std::optional<QString> save(const MailAttachment& attachment, QWidget* parent = nullptr);

  // Replaces the save dialog (tests): given the suggested name, the chosen
  // path or nothing.
  using Chooser = std::function<std::optional<QString>(const QString& suggestedName)>;
  static void setChooser(Chooser chooser);
};

} // namespace bx
