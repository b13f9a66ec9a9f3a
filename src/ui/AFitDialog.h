#pragma once

#include "model/fit/ProjectFit.h"

#include <QDialog>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace cardmill {

class MCardmill;
class Prompter;

/// "Fit to Card": the plan of `cardmill fit` for the open project as a table, a check box a
/// sound (those the plan changes are checked), the totals following the boxes, and the plan's
/// options. Apply writes the chosen sounds beside the project; the swaps it makes are the main
/// window's to put in place as one undoable action.
class AFitDialog final : public QDialog {
public:
    AFitDialog(MCardmill& controller, Prompter& prompter, QWidget* parent);
    void accept() override;

    /// The items Apply made, to be swapped into the project (empty before Apply).
    std::vector<FitSwap> TakeSwaps() { return std::move(swaps); }
    /// False (told why) when the project's sounds could not be read: the dialog is not shown.
    bool Ready() const { return gathered.has_value(); }

    QTableWidget* Table() const { return table; }
    QLabel* Totals() const { return totals; }
    QCheckBox* Trim() const { return trim; }
    QCheckBox* Normalize() const { return normalize; }
    QPushButton* ApplyButton() const { return apply; }

private:
    void Plan();
    void ShowTotals();
    std::vector<bool> Chosen() const;

    MCardmill& controller;
    Prompter& prompter;
    std::optional<ProjectSounds> gathered;
    FitOptions options;
    FitCache made; // the sounds the plans made, for the next plan when an option changes
    FitPlan plan;
    std::vector<FitSwap> swaps;
    QCheckBox* trim;
    QCheckBox* normalize;
    QComboBox* minRate;
    QTableWidget* table;
    QLabel* totals;
    QPushButton* apply;
};

} // namespace cardmill
