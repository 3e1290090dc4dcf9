// The main window's selection beyond the render pass's own: the options chosen in the zoom
// window's panel, several kept colours, the filter of a chosen selection and the settings
// that remember the choice.

#include "engine/MaskFilter.h"
#include "engine/Selection.h"
#include "platform/ProductIdentity.h"
#include "program/IntegerField.h"
#include "program/SelectionHistory.h"
#include "program/TImage32.h"
#include "program/U_MainDlg.h"
#include "program/ZoomWindow.h"
#include "services/U_TovikUtils.h"

#include <QSlider>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>

namespace tintavo {

namespace {

constexpr char ModelSetting[] = "SelectionModel";
constexpr char HueToleranceSetting[] = "SelectionHueTolerance";
constexpr char ChromaFloorSetting[] = "SelectionChromaFloor";
constexpr char PerceptualRadiusSetting[] = "SelectionPerceptualRadius";
constexpr char SoftEdgeSetting[] = "SelectionSoftEdge";
constexpr char GreySetting[] = "SelectionGrey";
constexpr char StrengthSetting[] = "SelectionStrength";

constexpr std::array<const char*, 3> ModelNames{"rgb", "hue", "perceptual"};
constexpr std::array<const char*, 2> GreyNames{"average", "luminance"};

QString ReadSetting(const char* name) {
    return QString::fromStdString(ReadProductString(ApplicationTitle, name));
}

// A kept number: the value when it is a whole number in 0..max, else the default.
std::int32_t ReadNumber(const char* name, std::int32_t max, std::int32_t fallback) {
    bool ok = false;
    const int value = ReadSetting(name).toInt(&ok);
    return ok && value >= 0 && value <= max ? value : fallback;
}

template <std::size_t N> int ReadName(const char* name, const std::array<const char*, N>& names) {
    const QString text = ReadSetting(name);
    for (std::size_t i = 0; i < N; ++i) {
        if (text == QLatin1String(names[i])) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

void KeepSetting(const char* name, const QString& value) {
    (void)KeepProductString(ApplicationTitle, name, value.toStdString());
}

std::int64_t DistanceSquared(const CentralColor& a, const CentralColor& b) {
    const auto d = [](std::int64_t x, std::int64_t y) { return (x - y) * (x - y); };
    return d(a.Red, b.Red) + d(a.Green, b.Green) + d(a.Blue, b.Blue);
}

} // namespace

SelectionOptions TMainDlg::PassOptions() const {
    SelectionOptions options = Choice;
    options.Colours.assign(
        1, CentralColor{rbase_txt->Value(), gbase_txt->Value(), bbase_txt->Value()});
    options.Colours.insert(options.Colours.end(), MoreColours.begin(), MoreColours.end());
    options.Box = Thresholds{dist_r->value(), dist_g->value(), dist_b->value()};
    return options;
}

bool TMainDlg::ViewsNeedResults() const {
    return resultSource_ == ResultSource::ChosenFiltered ||
           (resultSource_ == ResultSource::Chosen && rule_ && rule_->Options().Feather > 0);
}

void TMainDlg::FilterChosen() {
    // The filter cleans the hard mask; the soft edge, grey and strength follow from it.
    if (resultSource_ == ResultSource::Chosen) {
        BuildHardMask(orgimg->Bitmap, *rule_, hardMask_);
    }
    FilterMask(hardMask_);
    resultSource_ = ResultSource::ChosenFiltered;
    resultsBuilt_ = false;
    BuildResults();
    ShowResult();
}

void TMainDlg::SetChoice(const SelectionOptions& choice) {
    ValidateSelection(choice);
    Choice = choice;
    KeepChoiceSettings();
    process_btnClick();
}

void TMainDlg::AddKeptColour() {
    const CentralColor colour{r_txt->Value(), g_txt->Value(), b_txt->Value()};
    const SelectionOptions options = PassOptions();
    if (std::find_if(options.Colours.begin(), options.Colours.end(), [&](const CentralColor& c) {
            return c.Red == colour.Red && c.Green == colour.Green && c.Blue == colour.Blue;
        }) == options.Colours.end()) {
        MoreColours.push_back(colour);
    }
    process_btnClick();
}

void TMainDlg::RemoveKeptColour() {
    if (MoreColours.empty()) {
        return; // the last kept colour stays
    }
    const CentralColor probe{r_txt->Value(), g_txt->Value(), b_txt->Value()};
    const CentralColor first{rbase_txt->Value(), gbase_txt->Value(), bbase_txt->Value()};
    std::int64_t best = DistanceSquared(first, probe);
    std::size_t nearest = 0; // 0: the Central Color, else MoreColours[nearest - 1]
    for (std::size_t i = 0; i < MoreColours.size(); ++i) {
        const std::int64_t d = DistanceSquared(MoreColours[i], probe);
        if (d < best) {
            best = d;
            nearest = i + 1;
        }
    }
    if (nearest == 0) {
        // The next colour becomes the first, shown in the Central Color fields.
        rbase_txt->SetValue(MoreColours.front().Red);
        gbase_txt->SetValue(MoreColours.front().Green);
        bbase_txt->SetValue(MoreColours.front().Blue);
        MoreColours.erase(MoreColours.begin());
    } else {
        MoreColours.erase(MoreColours.begin() + static_cast<std::ptrdiff_t>(nearest - 1));
    }
    process_btnClick();
}

void TMainDlg::ReadChoiceSettings() {
    SelectionOptions choice;
    choice.Model = static_cast<ColourModel>(ReadName(ModelSetting, ModelNames));
    choice.HueTolerance = ReadNumber(HueToleranceSetting, MaxHueTolerance, DefaultHueTolerance);
    choice.ChromaFloor = ReadNumber(ChromaFloorSetting, MaxChromaFloor, DefaultChromaFloor);
    choice.PerceptualRadius =
        ReadNumber(PerceptualRadiusSetting, MaxPerceptualRadius, DefaultPerceptualRadius);
    choice.Feather = ReadNumber(SoftEdgeSetting, MaxFeather, 0);
    choice.Grey = static_cast<GreyModel>(ReadName(GreySetting, GreyNames));
    choice.Strength = ReadNumber(StrengthSetting, MaxStrength, MaxStrength);
    Choice = choice;
}

void TMainDlg::KeepChoiceSettings() const {
    KeepSetting(ModelSetting, QLatin1String(ModelNames[static_cast<std::size_t>(Choice.Model)]));
    KeepSetting(HueToleranceSetting, QString::number(Choice.HueTolerance));
    KeepSetting(ChromaFloorSetting, QString::number(Choice.ChromaFloor));
    KeepSetting(PerceptualRadiusSetting, QString::number(Choice.PerceptualRadius));
    KeepSetting(SoftEdgeSetting, QString::number(Choice.Feather));
    KeepSetting(GreySetting, QLatin1String(GreyNames[static_cast<std::size_t>(Choice.Grey)]));
    KeepSetting(StrengthSetting, QString::number(Choice.Strength));
}

} // namespace tintavo
