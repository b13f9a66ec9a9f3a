#pragma once

#include <QDialog>

class QCheckBox;

namespace cardmill {

class MSeqFile;

/// "Sequence Info": the sequence's file and whether its data goes out through the Out port.
class ASequenceDialog final : public QDialog {
public:
    ASequenceDialog(MSeqFile& sequence, QWidget* parent);
    void accept() override;

    QCheckBox* OutPort() const { return outPort; }

private:
    MSeqFile& sequence;
    QCheckBox* outPort;
};

} // namespace cardmill
