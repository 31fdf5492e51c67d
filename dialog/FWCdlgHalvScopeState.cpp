// What the capture dialog reads from the scope: which channels, pods and
// functions are on (the sources it offers), the point count, and which
// measurements suit the current measurement source. Every query is one
// command and one text reply over the shared session.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <cmath>

#include "dialog/FWCdlgHalv.h"
#include "io/IoError.h"
#include "io/ReplyConvert.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "support/AppKey.h"
#include "support/SettingsStore.h"
#include "support/SkipOnError.h"

namespace cvn {

namespace {

void send(const std::string& command) {
    if (!gSession) throw io::IoError(io::kIoNoSession, "No session is open");
    gSession->Output(command);
}

std::string query(const std::string& command) {
    send(command);
    return gSession->EnterText();
}

bool replyAsBoolean(const std::string& reply) {
    auto value = io::toNumber(reply);
    if (!value) throw io::IoError(io::kIoMalformed, "The reply is not a number: " + reply);
    return *value != 0;
}

int32_t replyAsInt32(const std::string& reply) {
    auto value = io::toNumber(reply);
    if (!value || *value < -2147483648.0 || *value > 2147483647.0)
        throw io::IoError(io::kIoMalformed, "The reply is not a 32-bit number: " + reply);
    return static_cast<int32_t>(std::nearbyint(*value));
}

bool isFft(const std::string& reply) {
    return ContainsIgnoringCase(reply, "FFT");
}

void disableHideUncheck(QCheckBox* box) {
    box->setEnabled(false);
    box->setVisible(false);
    box->setChecked(false);
}

}  // namespace

void FWCdlgHalv::ReadScopeState(bool resetSelection) {
    const bool waveform = chkWaveform->isChecked();

    for (size_t i = 0; i < chkChan.size(); ++i) {
        SkipOnError([&] {
            QCheckBox* box = chkChan[i];
            if (static_cast<int>(i) < scope().ChannelCount()) {
                box->setVisible(true);
                box->setEnabled(waveform);
            } else {
                box->setEnabled(false);
                box->setVisible(false);
            }
            if (resetSelection) box->setChecked(false);
        });
    }
    lblLogic->setVisible(false);
    for (auto* box : chkPod) disableHideUncheck(box);
    for (auto* box : chkData) disableHideUncheck(box);
    cboSource1->clear();
    cboSource2->clear();

    SkipOnError([&] {
        if (!scope().IsMSO()) return;
        lblLogic->setVisible(true);
        for (size_t i = 0; i < chkPod.size(); ++i) {
            SkipOnError([&] {
                if (!replyAsBoolean(query(":POD" + std::to_string(i + 1) + ":DISP?"))) return;
                chkPod[i]->setEnabled(waveform);
                chkData[i]->setEnabled(waveform);
                // The single bits can be measured, whole pods cannot; a
                // second source must be analog, so they go to list 1 only.
                for (int bit = 0; bit < 8; ++bit)
                    cboSource1->addItem(QStringLiteral("DIG%1").arg(bit + 8 * static_cast<int>(i)));
            });
            chkPod[i]->setVisible(true);
            chkData[i]->setVisible(true);
        }
    });

    int channelCount = 0;
    SkipOnError([&] { channelCount = scope().ChannelCount(); });
    for (int i = 0; i < channelCount && i < static_cast<int>(chkChan.size()); ++i) {
        SkipOnError([&] {
            const bool displayed = replyAsBoolean(query(":STAT? CHAN" + std::to_string(i + 1)));
            if (displayed) {
                const QString name = QStringLiteral("CHAN%1").arg(i + 1);
                cboSource1->addItem(name);
                cboSource2->addItem(name);
            } else {
                chkChan[i]->setEnabled(false);
            }
        });
        if (!isAvailable(chkChan[i])) chkChan[i]->setChecked(false);
    }

    for (int k = 1; k <= 4; ++k) {
        SkipOnError([&] {
            if (isFft(query(":FUNCtion" + std::to_string(k) + "?"))) {
                cboSource1->addItem(QStringLiteral("MATH"));
                cboSource2->addItem(QStringLiteral("MATH"));
            }
        });
    }
    // A list shows only what the scope measures: filling a list makes its
    // first entry current, which the scope never chose. With no entry
    // shown the scope's own setting applies (the note beside the lists).
    cboSource1->setCurrentIndex(-1);
    cboSource2->setCurrentIndex(-1);

    if (resetSelection) {
        SkipOnError([&] {
            const std::string list = GetSetting(SettingsAppKey(), kSettingsSection,
                                                kKeyActiveChannels, kDefaultActiveChannels);
            for (const auto& source :
                 ParseActiveChannels(list, scope().IsMSO(), scope().ChannelCount())) {
                const int index = source.number - 1;
                if (source.kind == StoredSource::Kind::Pod) {
                    if (index >= 0 && index < static_cast<int>(chkPod.size()) &&
                        isAvailable(chkPod[index]))
                        chkPod[index]->setChecked(true);
                } else if (index >= 0 && index < static_cast<int>(chkChan.size()) &&
                           isAvailable(chkChan[index])) {
                    chkChan[index]->setChecked(true);
                }
            }
        });
        const char* bitKeys[2] = {kKeyD0D7, kKeyD8D15};
        for (size_t i = 0; i < chkData.size(); ++i) {
            SkipOnError([&] {
                if (!isAvailable(chkData[i])) return;
                auto value = SettingAsBoolean(
                    GetSetting(SettingsAppKey(), kSettingsSection, bitKeys[i], "0"));
                if (value && *value) chkData[i]->setChecked(true);
            });
        }
    }

    SkipOnError([this] {
        send(":Waveform:Source CHAN1");
        const int32_t points = replyAsInt32(query(":Waveform:Points?"));
        txtWFNumberPoints->setText(QString::number(points));
        txtWFNumberPoints->repaint();
    });
    // OK follows the boxes through their own reactions, which ran for every
    // box changed above; with nothing changed it stays as it was.
}

void FWCdlgHalv::UpdateMeasurementChoices() {
    const auto fields = io::splitFields(query(":MEASure:SOURce?"));
    bool fftOn = false;
    for (int k = 1; k <= 4; ++k)
        if (isFft(query(":FUNCtion" + std::to_string(k) + "?"))) fftOn = true;
    const std::string first =
        fields.empty() ? std::string() : std::string(io::trimReply(fields[0]));
    // No source named and no FFT: nothing to go by, so nothing changes.
    if (!fftOn && first.empty()) return;
    const MeasurementColumn column = ChooseMeasurementColumn(first, fftOn);
    for (int i = 0; i < kMeasurementCount; ++i) {
        if (MeasurementAvailable(kMeasurementNames[i], column)) {
            chkMea[i]->setEnabled(true);
        } else {
            chkMea[i]->setEnabled(false);
            chkMea[i]->setChecked(false);
        }
    }
}

}  // namespace cvn
