// The drop-down catalogue of output profiles: an owner-drawn list of 20-pixel entries, group
// headers with an expand glyph and an icon, and the profiles of each expanded group. The main
// window and the settings dialog each place one over their profile field.
#pragma once

#include "core/Catalogue.h"

#include <QListWidget>
#include <vector>

namespace tarnel {

class TMainSettings;

class TCatalogueList : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kEntryHeight = 20;

    explicit TCatalogueList(QWidget* parent = nullptr);

    // Rebuilds the entries from the caption table and the settings' group states.
    void Fill(TMainSettings& settings);
    // Selects the entry with this caption (blanks around it ignored); none when there is no such entry.
    void SelectCaption(const QString& caption);
    void SaveGroupStates(TMainSettings& settings) const;
    const std::vector<TItemInfo>& Entries() const { return entries_; }
    // Expands or collapses the header at `row`.
    void ToggleGroupAt(int row);
    // 20 × entries + 20 pixels, at most `limit`.
    int PreferredHeight(int limit) const;

signals:
    void ProfileChosen(const QString& caption, int code);
    // A group was expanded or collapsed: the list's preferred height changed.
    void GroupToggled();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void RebuildItems();

    std::vector<TItemInfo> entries_;
};

} // namespace tarnel
