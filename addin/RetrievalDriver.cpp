// GetDataFromInstrument: the one call that fetches data. It shows the
// capture dialog when asked, makes sure a supported scope answers (the user
// may retry), stops the scope, reads every displayed source and/or the
// screen image, and leaves the results and their codes in the object.
// Nothing it does ever fails toward the host: errors end up in the error
// handler and the call returns.
#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include "addin/IWavecatch.h"
#include "automation/Variant.h"
#include "dialog/FWCdlgHalv.h"
#include "io/ReplyConvert.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "support/AppKey.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"
#include "support/SkipOnError.h"
#include "support/StringTable.h"
#include "support/Text.h"
#include "support/UiServices.h"
#include "waveform/AcquisitionSetup.h"
#include "waveform/SourceNames.h"
#include "waveform/WaveformTransfer.h"

namespace cvn {

using automation::Array;
using automation::Variant;
using automation::VarType;

// Working state of one call, kept apart from the object's result fields.
class RetrievalDriver {
public:
    explicit RetrievalDriver(IWavecatch& addin) : a_(addin) {}
    void run();

private:
    struct Flags {
        bool screen, invert, waveform, newAcquisition, pod1Bits, pod2Bits;
    };

    static std::string setting(const char* key, const char* def) {
        return GetSetting(SettingsAppKey(), kSettingsSection, key, def);
    }
    // A stored flag: "0" is false, other numbers true, "True"/"False" as
    // written; anything else is a type mismatch that ends the call.
    static bool flag(const char* key, const char* def) {
        return Variant(setting(key, def)).toBool();
    }

    void prepare();
    void transferSources();
    void appendSource(const std::string& entry);
    void appendBits(int bitCodeBase, int lineOffset, const std::string& entry);
    void appendDescription(const std::string& description);

    IWavecatch& a_;
    std::vector<std::string> sources_;
    std::string points_;
    std::string address_;
    Flags flags_{};
    bool connected_ = false;
    bool maxPointsCancel_ = false;
    bool pod1Listed_ = false;
    bool pod2Listed_ = false;
    PreambleBlock block_{};
    Variant data_;
};

void IWavecatch::GetDataFromInstrument() {
    RetrievalDriver(*this).run();
}

void RetrievalDriver::run() {
    gErrorHandler = std::make_shared<CErrorHandler>();
    gErrorHandler->SetSaveLogToFile(true);
    gErrorHandler->AddToStack("GetDataFromInstrument");
    a_.cancel_ = false;
    try {
        prepare();
        ui().processPendingEvents();
        a_.actionType_ = 0;
        a_.dataType_ = 0;
        if (a_.cancel_ || !connected_) return;
        if (flags_.waveform) transferSources();
        if (flags_.screen) {
            bool error = false;
            // The image is taken even after a failed transfer: the user asked
            // for both, and a picture of the screen shows what went wrong.
            scope().GetBitMap(a_.bmpFilePath_, error, flags_.invert);
            if (error) a_.cancel_ = true;
            if (!a_.cancel_) {
                a_.dataType_ |= 32;
                a_.actionType_ |= 1;
            }
        }
    } catch (...) {
        const ErrorInfo error = ErrorInfo::current();
        gErrorHandler->HandleError(error, "cvnWCHalv.GetDataFromInstrument: " + error.description,
                                   0, -1);
    }
}

void RetrievalDriver::prepare() {
    for (int pass = 0;;) {
        if (a_.showDialog_) {
            FWCdlgHalv& dialog = captureDialog();
            dialog.showDialog(true, "");
            a_.cancel_ = dialog.Cancel();
        }
        sources_.clear();
        const std::string list = setting("ActiveChannels", "CHAN1");
        // An empty list has no entries at all; "A,,B" has an empty one.
        if (!list.empty()) {
            size_t start = 0;
            for (size_t comma; (comma = list.find(',', start)) != std::string::npos;
                 start = comma + 1)
                sources_.push_back(list.substr(start, comma - start));
            sources_.push_back(list.substr(start));
        }
        points_ = a_.numberPoints();
        address_ = setting("Corvane Halvio Series", "");
        a_.preamble_ = Array(VarType::Double, 0, 1);
        a_.yData_ = Variant(Array(VarType::Variant, 0, 1));
        flags_ = {flag("Screen", "1"),   flag("InvertColor", "1"),
                  flag("Waveform", "1"), flag("MakeNewAcquisition", "0"),
                  flag("D0D7", "0"),     flag("D8D15", "0")};

        maxPointsCancel_ = false;
        if (!a_.cancel_) {
            bool unused = false;
            SkipOnError(
                [&] { connected_ = isConnected(address_, false, a_.modifiedMenuName_, unused); });
            if (!connected_) {
                SkipOnError([&] {
                    MessageBoxRequest box;
                    box.text = ReplacePlaceholder(GetResString(117, ""), address_);
                    box.caption = "Corvane Wavecatch";
                    box.icon = MsgIcon::Critical;
                    box.buttons = MsgButtons::OKCancel;
                    if (ui().messageBox(box) == MsgResult::Cancel) a_.cancel_ = true;
                });
            }
        }
        if (!a_.cancel_) {
            SkipOnError([] { scope().StopRunning(); });
            if (flags_.newAcquisition) SkipOnError([] { scope().RunSingle(); });
            // The scope needs this long to settle after a stop or a single
            // acquisition before its record can be read.
            SkipOnError([] { ui().wait(std::chrono::milliseconds(1000)); });
        }
        if (flags_.waveform && !io::toNumber(points_) && !a_.cancel_) {
            SkipOnError([&] { CheckMaxPointsSetup(maxPointsCancel_); });
            if (maxPointsCancel_ && !a_.showDialog_) a_.cancel_ = true;
        }
        if (++pass > 3) a_.cancel_ = true;
        if (a_.cancel_) return;
        if (connected_ && !maxPointsCancel_) return;
    }
}

void RetrievalDriver::appendDescription(const std::string& description) {
    if (!a_.xyDescription_.empty()) a_.xyDescription_ += ",";
    a_.xyDescription_ += description;
}

void RetrievalDriver::transferSources() {
    a_.yData_ = Variant();
    a_.xyDescription_.clear();
    for (const auto& entry : sources_) {
        pod1Listed_ = pod1Listed_ || ToUpperAscii(entry) == "POD1";
        pod2Listed_ = pod2Listed_ || ToUpperAscii(entry) == "POD2";
    }
    if (!pod1Listed_ && flags_.pod1Bits) sources_.push_back("POD1");
    if (!pod2Listed_ && flags_.pod2Bits) sources_.push_back("POD2");

    for (const auto& entry : sources_) {
        appendDescription(AxisDescription(gSession.get(), entry, -1).value_or(""));
        if (entry.empty()) break;
        if (!scope().IsChanDisp(entry)) continue;
        appendSource(entry);
    }

    if (!a_.cancel_) {
        if (a_.preamble_.count() > 11)
            a_.dataType_ = 64;
        else if (a_.preamble_.count() > 1)
            a_.dataType_ = 8;
        if (a_.preamble_.count() > 1) a_.actionType_ |= 4;
    }
}

void RetrievalDriver::appendSource(const std::string& entry) {
    RawData raw;
    ReadSourceWaveform(gSession, raw, block_, entry, a_.cancel_);
    // A failed read leaves the data of the previous source in place.
    if (auto words = std::get_if<DataVector<int16_t>>(&raw))
        data_ = Variant(std::move(*words));
    else if (auto bytes = std::get_if<DataVector<uint8_t>>(&raw))
        data_ = Variant(std::move(*bytes));

    const std::string name = ToUpperAscii(entry);
    const bool isPod1 = name == "POD1";
    const bool isPod2 = name == "POD2";
    if ((!isPod1 && !isPod2) || (isPod1 && pod1Listed_) || (isPod2 && pod2Listed_)) {
        a_.AppendPreamble(Variant(Array::copyOf<double>(block_)));
        a_.AppendData(data_);
    }
    if (isPod1 && flags_.pod1Bits) appendBits(kCodePod1Bit, 0, entry);
    if (isPod2 && flags_.pod2Bits) appendBits(kCodePod2Bit, 8, entry);
}

void RetrievalDriver::appendBits(int bitCodeBase, int lineOffset, const std::string& entry) {
    const Array& pod = data_.array();
    for (int16_t bit = 0; bit < 8; ++bit) {
        appendDescription(
            AxisDescription(gSession.get(), entry, static_cast<int16_t>(bit + lineOffset))
                .value_or(""));
        Array bits(pod.elementType(), pod.lowerBound(), pod.count());
        if (pod.elementType() == VarType::Byte) {
            // Pod samples are 0..255, where dividing by 2^bit is a shift.
            auto in = pod.view<uint8_t>();
            auto out = bits.edit<uint8_t>();
            for (size_t j = 0; j < in.size(); ++j)
                out[j] = static_cast<uint8_t>((in[j] >> bit) & 1);
        } else {
            for (int32_t j = pod.lowerBound(); j <= pod.upperBound(); ++j)
                bits.set(j, Variant(static_cast<int16_t>(
                                IWavecatch::RShiftWord(pod.get(j).toInteger(), bit) & 1)));
        }
        block_[10] = bitCodeBase + bit;
        a_.AppendPreamble(Variant(Array::copyOf<double>(block_)));
        a_.AppendData(Variant(std::move(bits)));
    }
}

}  // namespace cvn
