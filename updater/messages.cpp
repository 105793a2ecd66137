// The texts of every message box. This source is UTF-8 and is compiled with
// -fexec-charset=CP932, so each literal below is stored as the Shift-JIS
// bytes that show_box converts from code page 932 for the box. Several hold a
// double-byte character whose second byte is 0x5C (十 is 8F 5C).
#include "updater/updater.h"

const char GAME_TITLE[] = "ナギサリウム";

const char MSG_NOT_INSTALLED[] =
    "%s が正常にインストールされていません\nインストール後、実行してください";
const char MSG_GAME_RUNNING[] = "%s が起動中です。\n一旦終了させてください。";
const char MSG_ARCHIVE_BUSY[] =
    "%s が起動している可能性があります\n終了後、もう一度実行してください";
const char MSG_UPDATE_DATA_MISSING[] =
    "アップデートファイル自体のデータが揃っていないか、または破損しています。\n"
    "お手数をおかけいたしますがもう一度ダウンロードし直してみてください。";
const char MSG_PATCH_MISSING[] =
    "ピクスナノートパッチが適用されていません。先にピクスナノートパッチを適用してください。";
const char MSG_ALREADY_APPLIED[] =
    "本アップデートファイルをすでに適用済みか、またはそれよりも新しいバージョンです。";
const char MSG_CONFIRM_DETECTED[] =
    "%s のインストールデータおよび\r\n"
    "ピクスナノートパッチデータを検出しました。\r\n"
    "\r\n"
    "これからピクスナノートパッチの修正アップデートファイルの適用を開始します。\r\n"
    "ゲームを起動している場合は、一旦ゲームを終了させておいてください。";
const char MSG_CONFIRM_START[] =
    "アップデートを開始します。よろしいですか？\r\n"
    "\r\n"
    "アップデート処理には数秒～数十秒程かかりますので\r\n"
    "完了メッセージが表示されるまで、そのままでお待ちください。";
const char MSG_CANCELLED[] = "アップデート処理をキャンセルしました。";
const char MSG_SUCCESS[] = "アップデート成功しました。";
const char MSG_WRITE_FAILED[] =
    "ファイルが適用出来ませんでした。\n\n読み取り専用属性になっている可能性があります。";
const char MSG_OUT_OF_MEMORY[] =
    "メモリが不足しているため、アップデートを適用できませんでした。\n"
    "他のアプリケーションを終了してから、もう一度実行してください。";

// The copy's full path goes between these two (format_box).
const char MSG_ARCHIVE_RESCUED[] =
    "%s のデータファイル update1.ovp を更新できず、元に戻すこともできませんでした。\n"
    "元のデータファイルは、アップデートファイルのあるフォルダに保存しました。\n\n";
const char MSG_ARCHIVE_RESCUED_ACTION[] =
    "\n\nこのファイルの名前を update1.ovp に変えて、ゲームをインストールしたフォルダの"
    " pac フォルダにある update1.ovp と置き換えてください。";
const char MSG_ARCHIVE_DAMAGED[] =
    "%s のデータファイル update1.ovp を更新できず、元に戻すことも、"
    "別の場所に保存することもできませんでした。\n"
    "データファイルが壊れているため、このままではゲームが正しく動作しません。\n\n"
    "お手数をおかけいたしますが、ゲームとピクスナノートパッチをもう一度インストールしてください。"
    "元の状態に戻ります。";
const char MSG_UPDATE_INTERRUPTED[] =
    "%s のデータファイル update1.ovp は、前回のアップデートが途中で中断されたため、"
    "不完全な状態になっています。\n"
    "このままではゲームが正しく動作しません。\n\n"
    "お手数をおかけいたしますが、ゲームとピクスナノートパッチをもう一度インストールしてから、"
    "このアップデートを実行してください。";

// The longest rescue text, the longest title-formatted copy path and the
// terminator fit the message buffer ("%s" counts for the title's room).
static_assert(sizeof(MSG_ARCHIVE_RESCUED) + sizeof(GAME_TITLE) + (RESCUE_PATH_BYTES - 1) +
                      sizeof(MSG_ARCHIVE_RESCUED_ACTION) <=
                  MESSAGE_BUFFER_BYTES,
              "the rescue text holds every copy path that the splice accepts");

const char CAP_UPDATE[] = "%s アップデート";
const char CAPTION_ERROR[] = "エラー";
const char CAPTION_ERROR_NO1[] = "エラー No.1";
const char CAPTION_ERROR_NO2[] = "エラー No.2";
const char CAPTION_ERROR_NO3[] = "エラー No.3";
const char CAPTION_CANCELLED[] = "中断";
const char CAPTION_DONE[] = "完了";
const char CAPTION_FAILED[] = "失敗";

#define NAMED(text) {#text, text}

const NamedText ALL_TEXTS[] = {
    NAMED(GAME_TITLE),
    NAMED(MSG_NOT_INSTALLED),
    NAMED(MSG_GAME_RUNNING),
    NAMED(MSG_ARCHIVE_BUSY),
    NAMED(MSG_UPDATE_DATA_MISSING),
    NAMED(MSG_PATCH_MISSING),
    NAMED(MSG_ALREADY_APPLIED),
    NAMED(MSG_CONFIRM_DETECTED),
    NAMED(MSG_CONFIRM_START),
    NAMED(MSG_CANCELLED),
    NAMED(MSG_SUCCESS),
    NAMED(MSG_WRITE_FAILED),
    NAMED(MSG_OUT_OF_MEMORY),
    NAMED(MSG_ARCHIVE_RESCUED),
    NAMED(MSG_ARCHIVE_RESCUED_ACTION),
    NAMED(MSG_ARCHIVE_DAMAGED),
    NAMED(MSG_UPDATE_INTERRUPTED),
    NAMED(CAP_UPDATE),
    NAMED(CAPTION_ERROR),
    NAMED(CAPTION_ERROR_NO1),
    NAMED(CAPTION_ERROR_NO2),
    NAMED(CAPTION_ERROR_NO3),
    NAMED(CAPTION_CANCELLED),
    NAMED(CAPTION_DONE),
    NAMED(CAPTION_FAILED),
};

const size_t ALL_TEXTS_COUNT = sizeof(ALL_TEXTS) / sizeof(ALL_TEXTS[0]);

#define BOX(id, text, caption, title, buttons, icon) \
    {#id, #text, text, #caption, caption, nullptr, nullptr, id, title, buttons, icon}

constexpr BoxRow BOXES[BOX_COUNT] = {
    BOX(BOX_NOT_INSTALLED_NO1, MSG_NOT_INSTALLED, CAPTION_ERROR_NO1, TITLE_IN_TEXT, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_NOT_INSTALLED_NO2, MSG_NOT_INSTALLED, CAPTION_ERROR_NO2, TITLE_IN_TEXT, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_NOT_INSTALLED_NO3, MSG_NOT_INSTALLED, CAPTION_ERROR_NO3, TITLE_IN_TEXT, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_GAME_RUNNING, MSG_GAME_RUNNING, CAPTION_ERROR, TITLE_IN_TEXT, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_ARCHIVE_BUSY, MSG_ARCHIVE_BUSY, CAPTION_ERROR, TITLE_IN_TEXT, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_UPDATE_DATA_MISSING, MSG_UPDATE_DATA_MISSING, CAPTION_ERROR, TITLE_NOWHERE,
        BOX_STYLE_OK, BOX_STYLE_NO_ICON),
    BOX(BOX_PATCH_MISSING, MSG_PATCH_MISSING, CAP_UPDATE, TITLE_IN_CAPTION, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_ALREADY_APPLIED, MSG_ALREADY_APPLIED, CAP_UPDATE, TITLE_IN_CAPTION, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_UPDATE_INTERRUPTED, MSG_UPDATE_INTERRUPTED, CAPTION_FAILED, TITLE_IN_TEXT,
        BOX_STYLE_OK, BOX_STYLE_NO_ICON),
    BOX(BOX_CONFIRM_DETECTED, MSG_CONFIRM_DETECTED, CAP_UPDATE, TITLE_IN_BOTH, BOX_STYLE_YES_NO,
        BOX_STYLE_INFORMATION),
    BOX(BOX_CONFIRM_START, MSG_CONFIRM_START, CAP_UPDATE, TITLE_IN_CAPTION, BOX_STYLE_YES_NO,
        BOX_STYLE_INFORMATION),
    BOX(BOX_SUCCESS, MSG_SUCCESS, CAPTION_DONE, TITLE_NOWHERE, BOX_STYLE_OK, BOX_STYLE_NO_ICON),
    BOX(BOX_CANCELLED, MSG_CANCELLED, CAPTION_CANCELLED, TITLE_NOWHERE, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_OUT_OF_MEMORY, MSG_OUT_OF_MEMORY, CAPTION_ERROR, TITLE_NOWHERE, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    BOX(BOX_WRITE_FAILED, MSG_WRITE_FAILED, CAPTION_FAILED, TITLE_NOWHERE, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
    // The copy's full path goes between the two texts.
    {"BOX_ARCHIVE_RESCUED", "MSG_ARCHIVE_RESCUED", MSG_ARCHIVE_RESCUED, "CAPTION_FAILED",
     CAPTION_FAILED, "MSG_ARCHIVE_RESCUED_ACTION", MSG_ARCHIVE_RESCUED_ACTION,
     BOX_ARCHIVE_RESCUED, TITLE_IN_TEXT, BOX_STYLE_OK, BOX_STYLE_NO_ICON},
    BOX(BOX_ARCHIVE_DAMAGED, MSG_ARCHIVE_DAMAGED, CAPTION_FAILED, TITLE_IN_TEXT, BOX_STYLE_OK,
        BOX_STYLE_NO_ICON),
};

#undef BOX
#undef NAMED

// Row i is box i, so that BOXES[id] is the row of id.
constexpr bool rows_in_order() {
    for (int i = 0; i < BOX_COUNT; ++i) {
        if (BOXES[i].id != i)
            return false;
    }
    return true;
}
static_assert(rows_in_order(), "the rows of BOXES follow the order of BoxId");
