#include "util/FormPlacement.h"

#include "util/IniFile.h"
#include "util/SettingsKeys.h"
#include "util/TdmUtil.h"

namespace pom {

namespace {

int GetInt(const IniDocument& doc, std::string_view section, std::string_view key, int def) {
    const auto v = doc.Get(section, key);
    return v ? ParseIniInteger(*v, def) : def;
}

DialogPosition ReadPosition(const IniDocument& doc, std::string_view section,
                            const DialogPosition& current, int screenWidth, int screenHeight) {
    DialogPosition p;
    p.left = GetInt(doc, section, settings::kFormX, current.left);
    if (screenWidth < p.left) p.left = 10;
    p.top = GetInt(doc, section, settings::kFormY, current.top);
    if (screenHeight < p.top) p.top = 10;
    return p;
}

}  // namespace

FormPlacement LoadFormPlacement(const TdmUtil& util, std::string_view section,
                                const FormPlacement& current, int screenWidth, int screenHeight) {
    const IniDocument doc = IniLoad(util.IniFileName());
    const DialogPosition pos =
        ReadPosition(doc, section, {current.left, current.top}, screenWidth, screenHeight);
    FormPlacement p;
    p.left = pos.left;
    p.top = pos.top;
    p.width = GetInt(doc, section, settings::kFormW, current.width);
    p.height = GetInt(doc, section, settings::kFormH, current.height);
    p.fontName = doc.GetString(section, settings::kFont, current.fontName);
    p.fontSize = GetInt(doc, section, settings::kFontSize, current.fontSize);
    p.fontColor = GetInt(doc, section, settings::kFontColor, current.fontColor);
    p.charset = GetInt(doc, section, settings::kCharset, current.charset) & 0xFF;
    return p;
}

void SaveFormPlacement(TdmUtil& util, std::string_view section, const FormPlacement& p) {
    IniWriteSection(util.IniFileName(), section,
                    {
                        {std::string(settings::kFormX), std::to_string(p.left)},
                        {std::string(settings::kFormY), std::to_string(p.top)},
                        {std::string(settings::kFormW), std::to_string(p.width)},
                        {std::string(settings::kFormH), std::to_string(p.height)},
                        {std::string(settings::kFont), p.fontName},
                        {std::string(settings::kFontSize), std::to_string(p.fontSize)},
                        {std::string(settings::kFontColor), std::to_string(p.fontColor)},
                        {std::string(settings::kCharset), std::to_string(p.charset)},
                    });
}

DialogPosition LoadDialogPosition(const TdmUtil& util, std::string_view section,
                                  const DialogPosition& current, int screenWidth,
                                  int screenHeight) {
    return ReadPosition(IniLoad(util.IniFileName()), section, current, screenWidth, screenHeight);
}

std::optional<DialogPosition> StoredDialogPosition(const TdmUtil& util, std::string_view section,
                                                   int screenWidth, int screenHeight) {
    const IniDocument doc = IniLoad(util.IniFileName());
    if (!doc.Get(section, settings::kFormX) || !doc.Get(section, settings::kFormY))
        return std::nullopt;
    return ReadPosition(doc, section, {}, screenWidth, screenHeight);
}

void SaveDialogPosition(TdmUtil& util, std::string_view section, const DialogPosition& p) {
    IniWriteSection(util.IniFileName(), section,
                    {
                        {std::string(settings::kFormX), std::to_string(p.left)},
                        {std::string(settings::kFormY), std::to_string(p.top)},
                    });
}

}  // namespace pom
