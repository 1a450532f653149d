#pragma once
#include "core/Client_Base.h"
#include "core/XmlFile.h"
#include "platform/Text.h"
#include <QString>
#include <functional>
#include <optional>
#include <vector>

// Table-driven reading and writing of settings objects: each option class
// lists its elements once, in file order, with the rule that reads each one.
namespace pelvox {

// The integer in AText (StrToIntDef syntax), or nothing when it is not one.
std::optional<int32_t> TextToIntOpt(QStringView AText);

// A stored boolean: trimmed, "True"/"False" without regard to case, or a
// number (0 false, anything else true). Anything else leaves AValue.
void ReadBoolText(const QString& AText, bool& AValue);

// A path as stored: trimmed, "%AppRoot%" expanded, "\" turned into "/".
QString ReadPathText(const QString& AText);
// A path as written: the application root replaced by "%AppRoot%".
inline QString WritePathText(const QString& APath) { return EncodeAppRootPath(APath); }

template <class O>
struct TSettingsField {
    const char* Name;
    std::function<void(const O&, pugi::xml_node AParent)> Write;
    std::function<void(O&, const pugi::xml_node& AElement)> Read;
};

// How a stored integer becomes a value: given the number read (or nothing
// when the text is not a number), the current value and the default.
using TIntRule = std::function<int32_t(std::optional<int32_t> AParsed, int32_t ACurrent, int32_t ADefault)>;

// Not a number keeps the current value; outside [ALow, AHigh] takes the default.
TIntRule KeepOrDefault(int32_t ALow, int32_t AHigh);
// Not a number counts as ANotNumber; then AMap turns the number into the value.
TIntRule MapNumber(int32_t ANotNumber, std::function<int32_t(int32_t)> AMap);

template <class O>
TSettingsField<O> BoolField(const char* AName, bool O::*AMember)
{
    return {AName, [=](const O& o, pugi::xml_node p) { AppendTextElement(p, AName, BoolToText(o.*AMember)); },
            [=](O& o, const pugi::xml_node& e) { ReadBoolText(XmlText(e), o.*AMember); }};
}

// Integers and enumerations, written as decimal numbers. ATrim: whether the
// text is trimmed before it is read. ADefault is the value of a new object.
template <class O, class T>
TSettingsField<O> IntField(const char* AName, T O::*AMember, T ADefault, bool ATrim, TIntRule ARule)
{
    return {AName,
            [=](const O& o, pugi::xml_node p) { AppendTextElement(p, AName, QString::number(int32_t(o.*AMember))); },
            [=](O& o, const pugi::xml_node& e) {
                const QString t = ATrim ? Trim(XmlText(e)) : XmlText(e);
                o.*AMember = T(ARule(TextToIntOpt(t), int32_t(o.*AMember), int32_t(ADefault)));
            }};
}

// Texts: written as they are, read trimmed (or as they stand).
template <class O>
TSettingsField<O> TextField(const char* AName, QString O::*AMember, bool ATrim = true)
{
    return {AName, [=](const O& o, pugi::xml_node p) { AppendTextElement(p, AName, o.*AMember); },
            [=](O& o, const pugi::xml_node& e) { o.*AMember = ATrim ? Trim(XmlText(e)) : XmlText(e); }};
}

template <class O>
TSettingsField<O> PathField(const char* AName, QString O::*AMember)
{
    return {AName, [=](const O& o, pugi::xml_node p) { AppendTextElement(p, AName, WritePathText(o.*AMember)); },
            [=](O& o, const pugi::xml_node& e) { o.*AMember = ReadPathText(XmlText(e)); }};
}

// A value behind a getter and a setter.
template <class O>
TSettingsField<O> AccessorField(const char* AName, std::function<QString(const O&)> AGet,
                                std::function<void(O&, const QString&)> ASet)
{
    return {AName, [=](const O& o, pugi::xml_node p) { AppendTextElement(p, AName, AGet(o)); },
            [=](O& o, const pugi::xml_node& e) { ASet(o, XmlText(e)); }};
}

// Writes every field of AObject under AParent, in table order.
template <class O>
void WriteFields(const std::vector<TSettingsField<O>>& AFields, const O& AObject, pugi::xml_node AParent)
{
    for (const auto& f : AFields) f.Write(AObject, AParent);
}

// Reads the fields present under AParent (looked up by exact name); missing
// elements keep the current values.
template <class O>
void ReadFields(const std::vector<TSettingsField<O>>& AFields, O& AObject, const pugi::xml_node& AParent)
{
    for (const auto& f : AFields)
        if (const pugi::xml_node e = AParent.child(f.Name)) f.Read(AObject, e);
}

} // namespace pelvox
