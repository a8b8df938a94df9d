#pragma once
// The widgets of the editor's ten pages, with the pages' labels in their
// order. Every control that edits a value is named after that value (its
// objectName), its browse button after the value with "Browse" appended;
// PageMirror fills and reads them by those names. GUI thread only.
class QWidget;

namespace vardel {

// Page `page` (0 to 9), parented to `parent`.
QWidget* build_page(int page, QWidget* parent);

}  // namespace vardel
