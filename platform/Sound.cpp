// Sound resources and the outputs sndPlaySound hands them to.
#include "platform/Sound.h"

#include <QDir>
#include <QFile>
#include <QSoundEffect>
#include <QUrl>

#include <map>
#include <memory>
#include <utility>

namespace {

const QString SOUND_DIR = QStringLiteral(":/sound");

// Resources found so far. Never freed: an image handed to the player stays
// valid for as long as the process runs.
std::map<int, std::unique_ptr<SoundResource>>& Resources()
{
    static auto* s_pResources = new std::map<int, std::unique_ptr<SoundResource>>;
    return *s_pResources;
}

CSoundOutput* g_pOutput = nullptr;

// The resource file of a cue: ":/sound/<id>", or with a ".wav" suffix.
QString SoundPath(int nId)
{
    const QString strBase = SOUND_DIR + u'/' + QString::number(nId);
    if (QFile::exists(strBase))
        return strBase;
    if (QFile::exists(strBase + QStringLiteral(".wav")))
        return strBase + QStringLiteral(".wav");
    return QString();
}

int IdOfImage(const void* pImage)
{
    for (const auto& [nId, pRes] : Resources()) {
        if (pRes->image.constData() == pImage)
            return nId;
    }
    return 0;
}

}  // namespace

HRSRC FindResource(int nId, const char* pszType)
{
    if (!pszType || QByteArray(pszType).compare("sound", Qt::CaseInsensitive) != 0)
        return nullptr;
    auto& resources = Resources();
    if (auto it = resources.find(nId); it != resources.end())
        return it->second.get();
    const QString strPath = SoundPath(nId);
    if (strPath.isEmpty())
        return nullptr;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    auto pRes = std::make_unique<SoundResource>();
    pRes->nId = nId;
    pRes->image = file.readAll();
    if (pRes->image.isEmpty())
        return nullptr;
    return resources.emplace(nId, std::move(pRes)).first->second.get();
}

HGLOBAL LoadResource(HRSRC hRes)
{
    return hRes;
}

const void* LockResource(HGLOBAL hGlobal)
{
    return hGlobal ? hGlobal->image.constData() : nullptr;
}

BOOL sndPlaySound(const void* pImage, UINT fuSound)
{
    CSoundOutput* pOutput = g_pOutput;
    if (!pImage) {
        if (pOutput)
            pOutput->Stop();
        return TRUE;
    }
    if (!pOutput)
        return FALSE;
    pOutput->Play(IdOfImage(pImage), pImage);
    return TRUE;
}

CSoundOutput* SetSoundOutput(CSoundOutput* pOutput)
{
    return std::exchange(g_pOutput, pOutput);
}

// Qt output -------------------------------------------------------------------

struct CQtSoundOutput::Impl {
    std::map<int, std::unique_ptr<QSoundEffect>> effects;
};

CQtSoundOutput::CQtSoundOutput() : m_pImpl(new Impl)
{
    // One effect per cue in the resources, loaded now so a cue starts at once.
    const QStringList names = QDir(SOUND_DIR).entryList(QDir::Files, QDir::Name);
    for (const QString& strName : names) {
        bool bOk = false;
        const int nId = strName.section(u'.', 0, 0).toInt(&bOk);
        if (!bOk || m_pImpl->effects.count(nId))
            continue;
        auto pEffect = std::make_unique<QSoundEffect>();
        pEffect->setSource(QUrl(QStringLiteral("qrc") + SOUND_DIR + u'/' + strName));
        m_pImpl->effects.emplace(nId, std::move(pEffect));
    }
}

CQtSoundOutput::~CQtSoundOutput()
{
    delete m_pImpl;
}

void CQtSoundOutput::Play(int nId, const void* pImage)
{
    // A new cue replaces the one still playing. Without an audio device an
    // effect may claim to play for ever; stopping it is harmless, and nothing
    // here ever waits for the effect.
    Stop();
    if (auto it = m_pImpl->effects.find(nId); it != m_pImpl->effects.end())
        it->second->play();
}

void CQtSoundOutput::Stop()
{
    for (auto& [nId, pEffect] : m_pImpl->effects) {
        if (pEffect->isPlaying())
            pEffect->stop();
    }
}
