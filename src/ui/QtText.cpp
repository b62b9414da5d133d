#include "ui/QtText.h"

#include "profile/Language.h"

namespace kevra {

QString QtText::lang(const std::u16string& key)
{
    return from(Language::text(key));
}

}   // namespace kevra
