#include "app/messages.h"

#include "app/updater_state.h"

namespace updater {

namespace {

// One row per id; the slot number is the language number, and an empty slot falls back to
// slot 0 (English).
constexpr int Slots = 5;
const wchar_t* const MessageCatalogue[][Slots] = {
    {L"\"Lumenfall\" Updater ver 1.01", L"「Lumenfall」 Updater ver 1.01"},
    {L"Failed to get version information.", L"バージョン情報の取得に失敗しました。"},
    {L"The game is not installed.", L"ゲームがインストールされていません。"},
    {L"The installed folder cannot be found.\nDo you want to specify the installation folder?",
     L"インストールされたデータが見つかりません。\nインストール先のフォルダを指定しますか？"},
    {L"Select the installation folder.", L"インストールするフォルダを選択してください。"},
    {L"Install the update?", L"アップデートを行いますか？"},
    {L"\"Lumenfall\" was not found in the folder you selected.",
     L"選択されたフォルダに「Lumenfall」はインストールされていません。"},
    {L"This will cancel the installation process.", L"アップデートをキャンセルします。"},
    {L"The update is already installed.", L"既にアップデートは適用されています。"},
    {L"The folder you selected does not exist.", L"指定されたフォルダは存在しません。"},
    {L"Installing \"%s\".", L"\"%s\"をインストール中"},
    {L"Cancel the installation?", L"インストールを中止しますか？"},
    {L"Installation complete.", L"インストールが完了しました。"},
    {L"The installer may be damaged.", L"インストールプログラムが破損している可能性があります。"},
    {L"Installation could not be completed.", L"何らかの要因によりインストールが行えません。"},
    {L"Failed to update the installation info.",
     L"アンインストレーションファイルの更新に失敗しました。"},
    {L"Failed at dialog initiation.", L"ダイアログの起動に失敗しました。"},
    {L"Update cannot be installed because the game is currently running.",
     L"ゲームが実行中であるためアップデートを行えません。"},
    {L"Error", L"エラー"},
};
constexpr uint32_t MessageCount = sizeof MessageCatalogue / sizeof MessageCatalogue[0];

}  // namespace

const wchar_t* GetMessageText(MessageId id) {
    const uint32_t index = static_cast<uint32_t>(id);
    if (index >= MessageCount) return L"";
    const wchar_t* const* row = MessageCatalogue[index];
    const int32_t slot = CurrentLanguage;
    if (slot >= 0 && slot < Slots && row[slot] != nullptr) return row[slot];
    return row[0];
}

bool IsJapanese() {
    return CurrentLanguage == LanguageJapanese;
}

}  // namespace updater
