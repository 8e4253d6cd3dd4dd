<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>AddressBookDialog</name>
    <message>
        <source>アドレス帳</source>
        <translation>Address Book</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>メールアドレス</source>
        <translation>Mail Address</translation>
    </message>
    <message>
        <source>アドレス帳にアドレスを追加/削除する</source>
        <translation>Add or delete addresses</translation>
    </message>
    <message>
        <source>不適切なメールアドレスの形式です。</source>
        <translation>This is not a valid mail address.</translation>
    </message>
    <message>
        <source>削除したいアドレスを選択してください。</source>
        <translation>Please select the address you want to delete.</translation>
    </message>
    <message>
        <source>メールアドレスが登録されていません。</source>
        <translation>The address book holds no mail address.</translation>
    </message>
    <message>
        <source>アドレスを選択してください。</source>
        <translation>Please select an address.</translation>
    </message>
    <message>
        <source>応答しない別の kelvo がアドレス帳を使っているため、読み取り専用で開いています。</source>
        <translation>Another kelvo, which does not answer, holds the address book: it is open read-only.</translation>
    </message>
    <message>
        <source>address.dat を最後まで読めなかったため、読み取り専用で開いています。
閉じてもファイルには書き込みません。</source>
        <translation>address.dat could not be read to its end: the book is open read-only,
and closing it writes nothing.</translation>
    </message>
    <message>
        <source>読めなかった %1 を %2 に移せませんでした（%3）。アドレス帳は読み取り専用のままです。</source>
        <translation>Could not move the unreadable %1 to %2 (%3). The address book stays read-only.</translation>
    </message>
    <message>
        <source>読めなかった %1 を %2 に移しました。アドレス帳は閉じるときに新しく書き込みます。</source>
        <translation>The unreadable %1 was moved to %2. The address book will be written anew when it closes.</translation>
    </message>
    <message>
        <source>%1
アドレス帳を別の場所に保存しますか？</source>
        <translation>%1
Save the address book somewhere else?</translation>
    </message>
    <message>
        <source>アドレス帳の変更を kelvo を終えるまで残し、次に閉じるときにもう一度保存しますか？
「いいえ」なら保存していない変更を捨てます。</source>
        <translation>Keep the changes to the address book until kelvo ends, and try to save them again at the next close?
With &quot;No&quot; the unsaved changes are discarded.</translation>
    </message>
    <message>
        <source>アドレス帳の保存</source>
        <translation>Save Address Book</translation>
    </message>
    <message>
        <source>アドレス帳を %1 に保存しました。</source>
        <translation>The address book was saved to %1.</translation>
    </message>
    <message>
        <source>名前(&amp;N)</source>
        <translation>&amp;Name</translation>
    </message>
    <message>
        <source>アドレス帳に追加(&amp;A)</source>
        <translation>&amp;Add to the address book</translation>
    </message>
    <message>
        <source>選択したアドレスの削除(&amp;D)</source>
        <translation>&amp;Delete the selected address</translation>
    </message>
    <message>
        <source>選択したアドレスを貼り付ける(&amp;P)</source>
        <translation>&amp;Paste the selected address</translation>
    </message>
    <message>
        <source>アドレス帳を閉じる(&amp;C)</source>
        <translation>&amp;Close address book</translation>
    </message>
</context>
<context>
    <name>AddressFile</name>
    <message>
        <source>不正なストリーム フォーマット</source>
        <translation>Invalid stream format</translation>
    </message>
    <message>
        <source>ストリームの読み込みエラー</source>
        <translation>Stream read error</translation>
    </message>
    <message>
        <source>ファイル %1 を開けません</source>
        <translation>Cannot open file %1</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できません</source>
        <translation>Cannot create file %1</translation>
    </message>
    <message>
        <source>ファイル %1 はアドレス帳として大きすぎます（%2 バイトまで）。</source>
        <translation>The file %1 is too large for an address book (at most %2 bytes).</translation>
    </message>
</context>
<context>
    <name>CodePage</name>
    <message>
        <source>文字コード %1 から %2 への変換ができません</source>
        <translation>Cannot convert from character set %1 to %2</translation>
    </message>
</context>
<context>
    <name>Command</name>
    <message>
        <source>メモリが足りません。</source>
        <translation>Not enough memory.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>kelvo は画像を一枚ずつ、携帯電話の画面に合わせてメールで送ります。</source>
        <translation>kelvo mails one picture at a time to a mobile phone, fitted to its screen.</translation>
    </message>
    <message>
        <source>この説明を表示して終わります。</source>
        <translation>Shows this help and ends.</translation>
    </message>
    <message>
        <source>バージョンを表示して終わります。</source>
        <translation>Shows the version and ends.</translation>
    </message>
    <message>
        <source>開く画像（JPEG、PNG、WebP、HEIC、BMP）。同じ設定ファイルの kelvo が動いていれば、その kelvo で開きます。</source>
        <translation>The picture to open (JPEG, PNG, WebP, HEIC, BMP). When a kelvo with the same settings file is running, that kelvo opens it.</translation>
    </message>
    <message>
        <source>画像は一つだけ指定できます。</source>
        <translation>Only one picture can be given.</translation>
    </message>
    <message>
        <source>kelvo: 動いている kelvo が応答しません。</source>
        <translation>kelvo: The running kelvo does not answer.</translation>
    </message>
    <message>
        <source>kelvo: %1 で待ち受けできません（%2）。別の kelvo が同じファイルに書き込むおそれがあります。</source>
        <translation>kelvo: Cannot listen on %1 (%2). Another kelvo might write to the same files.</translation>
    </message>
    <message>
        <source>動いている kelvo が応答しません。
それでもこの kelvo を起動しますか？
この kelvo は、動いている kelvo の設定とアドレス帳を読むだけで、書き込みません。</source>
        <translation>The running kelvo does not answer.
Start this kelvo all the same?
It will read the running kelvo&apos;s settings and address book, and write neither.</translation>
    </message>
</context>
<context>
    <name>Connection</name>
    <message>
        <source>%1 の証明書を確認できません（%2）。</source>
        <translation>Cannot verify the certificate of %1 (%2).</translation>
    </message>
    <message>
        <source>%1 と暗号化した接続を確立できません（%2）。</source>
        <translation>Cannot set up an encrypted connection with %1 (%2).</translation>
    </message>
    <message>
        <source>名前解決が時間切れになりました</source>
        <translation>the name lookup timed out</translation>
    </message>
    <message>
        <source>サーバ %1 のポート %2 に接続できません（%3）。</source>
        <translation>Cannot connect to server %1, port %2 (%3).</translation>
    </message>
    <message>
        <source>接続を拒否されました</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>応答がなく時間切れになりました</source>
        <translation>timed out</translation>
    </message>
    <message>
        <source>ホストへの経路がありません</source>
        <translation>no route to host</translation>
    </message>
    <message>
        <source>ネットワークに到達できません</source>
        <translation>network unreachable</translation>
    </message>
    <message>
        <source>名前が見つかりません</source>
        <translation>name not found</translation>
    </message>
    <message>
        <source>名前解決に一時的に失敗しました</source>
        <translation>temporary failure in name resolution</translation>
    </message>
    <message>
        <source>使えるアドレスではありません</source>
        <translation>not an address a server can have</translation>
    </message>
    <message>
        <source>ゾーンに当たるネットワークインターフェースがありません</source>
        <translation>no network interface by the name of the zone</translation>
    </message>
</context>
<context>
    <name>FileLocations</name>
    <message>
        <source>フォルダ %1 を作成できません。同じ名前のファイルがあるか、書き込みが許可されていません。</source>
        <translation>Cannot create folder %1. A file of the same name is in the way, or writing there is not allowed.</translation>
    </message>
</context>
<context>
    <name>HeaderEncoding</name>
    <message>
        <source>ISO-2022-JP への変換ができません</source>
        <translation>Cannot convert to ISO-2022-JP</translation>
    </message>
</context>
<context>
    <name>IniFile</name>
    <message>
        <source>%1 に書き込めません</source>
        <translation>Cannot write to %1</translation>
    </message>
    <message>
        <source>%1 を読めません（%2）。</source>
        <translation>Cannot read %1 (%2).</translation>
    </message>
    <message>
        <source>%1 バイトを超えています</source>
        <translation>larger than %1 bytes</translation>
    </message>
</context>
<context>
    <name>Mail</name>
    <message>
        <source>サーバが送信先 %1 を受け付けませんでした。
%2</source>
        <translation>The server did not accept the recipient %1.
%2</translation>
    </message>
    <message>
        <source>パスワードを暗号化せずに送ることはできません。セキュリティの設定で STARTTLS か SSL/TLS を選んでください。</source>
        <translation>A password cannot be sent unencrypted. Please choose STARTTLS or SSL/TLS in the security settings.</translation>
    </message>
    <message>
        <source>ログイン名とパスワードに NUL 文字（文字コード 0）は使えません。</source>
        <translation>The login name and the password cannot hold a NUL character (code 0).</translation>
    </message>
    <message>
        <source>ログイン名とパスワードに改行は使えません。</source>
        <translation>The login name and the password cannot hold a line break.</translation>
    </message>
    <message>
        <source>ログイン名とパスワードが長すぎて送れません（ログインの行は %1 バイトまでです）。</source>
        <translation>The login name and the password are too long to send (the login line takes at most %1 bytes).</translation>
    </message>
    <message>
        <source>%1 は STARTTLS に対応していません。セキュリティの設定を確認してください。</source>
        <translation>%1 does not offer STARTTLS. Please check the security settings.</translation>
    </message>
    <message>
        <source>%1 が STARTTLS を断りました（%2）。</source>
        <translation>%1 refused STARTTLS (%2).</translation>
    </message>
    <message>
        <source>%1 は kelvo が使えるログイン方式（PLAIN、LOGIN）に対応していません。</source>
        <translation>%1 offers no login method kelvo can use (PLAIN, LOGIN).</translation>
    </message>
    <message>
        <source>%1 はログイン（SMTP AUTH）に対応していません。</source>
        <translation>%1 does not offer a login (SMTP AUTH).</translation>
    </message>
    <message>
        <source>%1 にログインできませんでした（%2）。</source>
        <translation>Could not log in to %1 (%2).</translation>
    </message>
    <message>
        <source>サインインのトークンを暗号化せずに送ることはできません。セキュリティの設定で STARTTLS か SSL/TLS を選んでください。</source>
        <translation>A sign-in token cannot be sent unencrypted. Please choose STARTTLS or SSL/TLS in the security settings.</translation>
    </message>
    <message>
        <source>サインインのトークンかログイン名に使えない文字があります。</source>
        <translation>The sign-in token or the login name holds a character that cannot be sent.</translation>
    </message>
    <message>
        <source>サインインのトークンが長すぎて送れません（ログインの行は %1 バイトまでです）。</source>
        <translation>The sign-in token is too long to send (the login line takes at most %1 bytes).</translation>
    </message>
    <message>
        <source>%1 は OAuth2 のサインイン（OAUTHBEARER、XOAUTH2）に対応していません。</source>
        <translation>%1 offers no OAuth2 sign-in (OAUTHBEARER, XOAUTH2).</translation>
    </message>
    <message>
        <source>%1 がサインインのトークンを受け付けませんでした（%2）。</source>
        <translation>%1 did not accept the sign-in token (%2).</translation>
    </message>
    <message>
        <source>%1 がサインインのトークンを受け付けませんでした（%2、状態 %3）。</source>
        <translation>%1 did not accept the sign-in token (%2; status %3).</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>ファイル (&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>メール (&amp;M)</source>
        <translation>&amp;Mail</translation>
    </message>
    <message>
        <source>エフェクト (&amp;E)</source>
        <translation>&amp;Effects</translation>
    </message>
    <message>
        <source>その他 (&amp;O)</source>
        <translation>&amp;Other</translation>
    </message>
    <message>
        <source>メールの新規作成</source>
        <translation>New Mail</translation>
    </message>
    <message>
        <source>画像を開く</source>
        <translation>Open Picture</translation>
    </message>
    <message>
        <source>画像の保存</source>
        <translation>Save Picture</translation>
    </message>
    <message>
        <source>メールの送信</source>
        <translation>Send Mail</translation>
    </message>
    <message>
        <source>アドレス帳 (&amp;A)</source>
        <translation>&amp;Address Book</translation>
    </message>
    <message>
        <source>画像のグレースケール化</source>
        <translation>Make the Picture Grey</translation>
    </message>
    <message>
        <source>ヘルプの参照</source>
        <translation>View Help</translation>
    </message>
    <message>
        <source>最新版Get</source>
        <translation>Get the Latest Version</translation>
    </message>
    <message>
        <source>kelvoの設定</source>
        <translation>kelvo Settings</translation>
    </message>
    <message>
        <source>バージョン情報</source>
        <translation>About kelvo</translation>
    </message>
    <message>
        <source>kelvoの最新版探しに行きますか？</source>
        <translation>Look for the latest version of kelvo?</translation>
    </message>
    <message>
        <source>このファイルタイプには対応しておりません。</source>
        <translation>This file type is not supported.</translation>
    </message>
    <message>
        <source>画像が読み込まれていないのでグレースケール化できません。</source>
        <translation>No picture is loaded, so it cannot be made grey.</translation>
    </message>
    <message>
        <source>画像が読み込まれていないので保存できません。</source>
        <translation>No picture is loaded, so it cannot be saved.</translation>
    </message>
    <message>
        <source>Sent with kelvo [%1]</source>
        <translation>Sent with kelvo [%1]</translation>
    </message>
    <message>
        <source>暗号化通信を開始しました。</source>
        <translation>Encrypted connection started.</translation>
    </message>
    <message>
        <source>認証に成功しました。</source>
        <translation>Logged in.</translation>
    </message>
    <message>
        <source>サーバに接続しました。</source>
        <translation>Connected to the server.</translation>
    </message>
    <message>
        <source>送信開始</source>
        <translation>Sending started</translation>
    </message>
    <message>
        <source>%1バイト中%2バイト送信</source>
        <translation>%2 of %1 bytes sent</translation>
    </message>
    <message>
        <source>送信成功</source>
        <translation>Sent successfully</translation>
    </message>
    <message>
        <source>サーバから切断しました。</source>
        <translation>Disconnected from the server.</translation>
    </message>
    <message>
        <source>問題が発生しました。</source>
        <translation>A problem has occurred.</translation>
    </message>
    <message>
        <source>サーバに接続を断られました。</source>
        <translation>The server refused the connection.</translation>
    </message>
    <message>
        <source>添付すべきファイルが削除されました。</source>
        <translation>The file to be attached has been deleted.</translation>
    </message>
    <message>
        <source>Connection Required. Connect?</source>
        <translation>Connection Required. Connect?</translation>
    </message>
    <message>
        <source>設定ファイルの [smtp] Security=%1 は 0、1、2 のどれでもないため、送信できません。「kelvoの設定」で接続の保護を選んで保存してください。</source>
        <translation>Cannot send: Security=%1 under [smtp] in the settings file is none of 0, 1 and 2. Please choose the connection security in &quot;kelvo Settings&quot; and save.</translation>
    </message>
    <message>
        <source>暗号化しない接続ではSMTP認証のパスワードを送れません。「kelvoの設定」で、接続の保護に STARTTLS か SSL/TLS を選んでください。</source>
        <translation>The SMTP login password cannot be sent over an unencrypted connection. In &quot;kelvo Settings&quot;, please choose STARTTLS or SSL/TLS as the connection security.</translation>
    </message>
    <message>
        <source>画像が読み込まれていません。送信しますか？</source>
        <translation>No picture is loaded. Send anyway?</translation>
    </message>
    <message>
        <source>正しいメールアドレスを入力してください。</source>
        <translation>Please enter a valid mail address.</translation>
    </message>
    <message>
        <source>送信先のメールアドレスには半角の英数字と記号だけを使ってください。</source>
        <translation>Please use only ASCII letters, digits and symbols in the mail address of the destination.</translation>
    </message>
    <message>
        <source>送信先が長すぎます。名前を短くしてください。</source>
        <translation>The destination is too long. Please shorten the name.</translation>
    </message>
    <message>
        <source>キーリングからパスワードを読み込んでいます…</source>
        <translation>Reading the password from the keyring…</translation>
    </message>
    <message>
        <source>画像名「%1」はファイル名に使えません。</source>
        <translation>The picture name &quot;%1&quot; cannot be used as a file name.</translation>
    </message>
    <message>
        <source>画質を最も下げても画像が制限の%1バイトに収まりません。このまま送信しますか？</source>
        <translation>Even at the lowest quality the picture does not fit the limit of %1 bytes. Send it anyway?</translation>
    </message>
    <message>
        <source>%1
パスワードは消去しました。次の送信で入力してください。</source>
        <translation>%1
The password has been forgotten. Please enter it at the next send.</translation>
    </message>
    <message>
        <source>送信したメールがサーバに受け付けられなかった可能性があります。
サーバの応答：
%1</source>
        <translation>The server may not have accepted the mail that was sent.
The server&apos;s reply:
%1</translation>
    </message>
    <message>
        <source>ここに画像ファイル
[bmp,jpeg,jpg,png,
webp,heic,heif]を
ドラッグ＆ドロップ
してください。</source>
        <translation>Drag and drop a
picture file here
[bmp,jpeg,jpg,png,
webp,heic,heif]</translation>
    </message>
    <message>
        <source>&amp;Subject:</source>
        <translation>&amp;Subject:</translation>
    </message>
    <message>
        <source>画像名(&amp;P)</source>
        <translation>&amp;Picture</translation>
    </message>
    <message>
        <source>送信先(&amp;T)</source>
        <translation>&amp;To...</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>画像 (%1)</source>
        <translation>Pictures (%1)</translation>
    </message>
    <message>
        <source>すべてのファイル (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>本文</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>送信の進み具合</source>
        <translation>Sending progress</translation>
    </message>
    <message>
        <source>画像のプレビュー</source>
        <translation>Picture preview</translation>
    </message>
    <message>
        <source>ヘルプ（README.md）が見つかりません。</source>
        <translation>The help (README.md) cannot be found.</translation>
    </message>
    <message>
        <source>ヘルプ %1 を開けませんでした。</source>
        <translation>Could not open the help %1.</translation>
    </message>
    <message>
        <source>画像のプレビュー（%1×%2ドット）</source>
        <translation>Picture preview (%1 × %2 dots)</translation>
    </message>
    <message>
        <source>送信していない件名か本文があります。消して新しいメールを作りますか？</source>
        <translation>The subject or the text has not been sent. Delete it and start a new mail?</translation>
    </message>
    <message>
        <source>%1
新しいトークンも受け付けられませんでした。このアカウントで SMTP の送信が許可されているか確認してください。</source>
        <translation>%1
A new token was not accepted either. Please check that this account may send mail over SMTP.</translation>
    </message>
    <message>
        <source>設定ファイルの [oauth] Provider=%1 は microsoft、google、desktop、custom のどれでもないため、送信できません。「kelvoの設定」でログイン方法を選んで保存してください。</source>
        <translation>Cannot send: Provider=%1 under [oauth] in the settings file is none of microsoft, google, desktop and custom. Please choose the login method in &quot;kelvo Settings&quot; and save.</translation>
    </message>
    <message>
        <source>暗号化しない接続ではサインインのトークンを送れません。「kelvoの設定」で、接続の保護に STARTTLS か SSL/TLS を選んでください。</source>
        <translation>A sign-in token cannot be sent over an unencrypted connection. In &quot;kelvo Settings&quot;, please choose STARTTLS or SSL/TLS as the connection security.</translation>
    </message>
    <message>
        <source>デスクトップのオンラインアカウントに問い合わせています…</source>
        <translation>Asking the desktop&apos;s online accounts…</translation>
    </message>
    <message>
        <source>キーリングからサインインの情報を読み込んでいます…</source>
        <translation>Reading the sign-in from the keyring…</translation>
    </message>
    <message>
        <source>%1 にサインインして %2 から送信しますか？</source>
        <translation>Sign in to %1 to send from %2?</translation>
    </message>
    <message>
        <source>%1 から新しいトークンを受け取っています…</source>
        <translation>Getting a new token from %1…</translation>
    </message>
    <message>
        <source>%1
%2 にサインインし直して %3 から送信しますか？</source>
        <translation>%1
Sign in to %2 again to send from %3?</translation>
    </message>
    <message>
        <source>サインインをキーリングに保存できませんでした。kelvoを終了するまでの間だけ覚えておきます。</source>
        <translation>The sign-in could not be saved in the keyring. kelvo remembers it only until it ends.</translation>
    </message>
    <message>
        <source>デスクトップのオンラインアカウントからトークンを受け取っています…</source>
        <translation>Getting a token from the desktop&apos;s online account…</translation>
    </message>
    <message>
        <source>%1 のサインインが見つかりません。もう一度送信してサインインしてください。</source>
        <translation>The sign-in to %1 is gone. Please send again and sign in.</translation>
    </message>
</context>
<context>
    <name>MessageBox</name>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>情報</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>はい(&amp;Y)</source>
        <translation>&amp;Yes</translation>
    </message>
    <message>
        <source>いいえ(&amp;N)</source>
        <translation>&amp;No</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>OAuthDetailsDialog</name>
    <message>
        <source>サインインの詳細</source>
        <translation>Sign-in details</translation>
    </message>
    <message>
        <source>クライアントID(&amp;C)</source>
        <translation>&amp;Client ID</translation>
    </message>
    <message>
        <source>クライアントシークレット(&amp;S)</source>
        <translation>Client &amp;secret</translation>
    </message>
    <message>
        <source>認可ページのURL(&amp;A)</source>
        <translation>&amp;Authorization URL</translation>
    </message>
    <message>
        <source>トークンのURL(&amp;T)</source>
        <translation>&amp;Token URL</translation>
    </message>
    <message>
        <source>スコープ(&amp;P)</source>
        <translation>Sco&amp;pe</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>プロバイダに登録したデスクトップ用クライアントの値を入力してください。戻り先（リダイレクトURI）は http://127.0.0.1 です。シークレットはないなら空欄のままにします。</source>
        <translation>Enter the values of the desktop client you registered with the provider. Its redirect URI is http://127.0.0.1. Leave the secret empty when there is none.</translation>
    </message>
    <message>
        <source>空欄の項目は %1 の既定の値を使います。自分で登録したクライアントIDを使うときに入力してください（README の「サインイン用のクライアントID」）。</source>
        <translation>An empty box uses the value built in for %1. Fill them in to use a client ID you registered yourself (README, &quot;Client IDs for signing in&quot;).</translation>
    </message>
</context>
<context>
    <name>PasswordDialog</name>
    <message>
        <source>SMTPパスワード</source>
        <translation>SMTP Password</translation>
    </message>
    <message>
        <source>パスワードはkelvoを終了するまで覚えておきます。ファイルには保存しません。</source>
        <translation>kelvo remembers the password until it ends. It is not saved to any file.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>%1 に %2 としてログインします。
パスワードを入力してください。</source>
        <translation>Logging in to %1 as %2.
Please enter the password.</translation>
    </message>
    <message>
        <source>パスワード(&amp;P)</source>
        <translation>&amp;Password</translation>
    </message>
</context>
<context>
    <name>Picture</name>
    <message>
        <source>ファイル %1 を開けません。</source>
        <translation>Cannot open file %1.</translation>
    </message>
    <message>
        <source>ビットマップ ファイル %1 を読み込めません。</source>
        <translation>Cannot read bitmap file %1.</translation>
    </message>
    <message>
        <source>HEIF ファイル %1 を読み込めません。</source>
        <translation>Cannot read HEIF file %1.</translation>
    </message>
    <message>
        <source>JPEG エラー #%1</source>
        <translation>JPEG error #%1</translation>
    </message>
    <message>
        <source>ファイル %1 を読み込めません。</source>
        <translation>Cannot read file %1.</translation>
    </message>
    <message>
        <source>画像の大きさ %1 ドットは不正です。</source>
        <translation>A picture of %1 dots is not valid.</translation>
    </message>
    <message>
        <source>画像が大きすぎます (%1 ドット)。扱えるのは 2 億画素までです。</source>
        <translation>The picture is too large (%1 dots). kelvo takes pictures of up to 200 million pixels.</translation>
    </message>
    <message>
        <source>画像 (%1 ドット) のためのメモリを確保できません。</source>
        <translation>Cannot allocate the memory for a picture of %1 dots.</translation>
    </message>
    <message>
        <source>ファイル %1 は画像として大きすぎます (%2 MB)。扱えるのは 2 億画素までです。</source>
        <translation>File %1 is too large for a picture (%2 MB). kelvo takes pictures of up to 200 million pixels.</translation>
    </message>
    <message>
        <source>%1 ファイル %2 を読み込めません。</source>
        <translation>Cannot read %1 file %2.</translation>
    </message>
    <message>
        <source>このファイルタイプには対応しておりません。</source>
        <translation>This file type is not supported.</translation>
    </message>
    <message>
        <source>I/O エラー (%1)</source>
        <translation>I/O error (%1)</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できません</source>
        <translation>Cannot create file %1</translation>
    </message>
    <message>
        <source>ドット数 %1 は不正です。1 以上を指定してください。</source>
        <translation>The dot size %1 is not valid. Please give 1 or more.</translation>
    </message>
    <message>
        <source>%1 は可逆圧縮 (ロスレス) の JPEG 画像です。この形式は kelvo では読めません。</source>
        <translation>%1 is a lossless JPEG picture, a form kelvo cannot read.</translation>
    </message>
    <message>
        <source>%1 は階層型 (ハイアラーキカル) の JPEG 画像です。この形式は kelvo では読めません。</source>
        <translation>%1 is a hierarchical JPEG picture, a form kelvo cannot read.</translation>
    </message>
    <message>
        <source>JPEG ファイル %1 は壊れています (JPEG エラー #%2)。</source>
        <translation>The JPEG file %1 is damaged (JPEG error #%2).</translation>
    </message>
    <message>
        <source>%1 は kelvo が読めない形式の JPEG 画像です (JPEG エラー #%2)。</source>
        <translation>%1 is a JPEG picture in a form kelvo cannot read (JPEG error #%2).</translation>
    </message>
    <message>
        <source>ファイル %1 は JPEG 画像ではありません (先頭は %2)。</source>
        <translation>The file %1 is not a JPEG picture (it starts with %2).</translation>
    </message>
    <message>
        <source>ファイル %1 は空です (0 バイト)。</source>
        <translation>The file %1 is empty (0 bytes).</translation>
    </message>
    <message>
        <source>JPEG ファイル %1 は途中で切れています。</source>
        <translation>The JPEG file %1 is cut short.</translation>
    </message>
    <message>
        <source>%1 は %2 ビットの JPEG 画像です。kelvo が読めるのは 8 ビットの JPEG 画像だけです。</source>
        <translation>%1 is a %2-bit JPEG picture; kelvo reads only 8-bit JPEG pictures.</translation>
    </message>
    <message>
        <source>JPEG ファイル %1 には画像がありません。</source>
        <translation>The JPEG file %1 holds no picture.</translation>
    </message>
    <message>
        <source>JPEG ファイル %1 の画像は大きすぎます。読めるのは一辺 %2 ドットまでの画像です。</source>
        <translation>The picture in the JPEG file %1 is too large: kelvo reads pictures of up to %2 dots a side.</translation>
    </message>
    <message>
        <source>JPEG ファイル %1 を読み込むためのメモリを確保できません。</source>
        <translation>There is not enough memory to read the JPEG file %1.</translation>
    </message>
    <message>
        <source>この JPEG は %1 を超えるスキャンに分かれているため、読み込めません。</source>
        <translation>This JPEG is split into more than %1 scans, so it cannot be read.</translation>
    </message>
    <message>
        <source>画像が大きすぎます (%1 ドット)。読み込むには %2 MB 要りますが、扱えるのは %3 MB までです。</source>
        <translation>The picture is too large (%1 dots): reading it takes %2 MB, and kelvo takes at most %3 MB.</translation>
    </message>
    <message>
        <source>%1 は普通のファイルではない (パイプやデバイスなどの) ため、読み込めません。</source>
        <translation>%1 is not a regular file (it is a pipe, a device or the like), so it cannot be read.</translation>
    </message>
</context>
<context>
    <name>RegularFile</name>
    <message>
        <source>通常のファイルではありません</source>
        <translation>not a regular file</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>&apos;%1&apos; は数値ではありません</source>
        <translation>&apos;%1&apos; is not a number</translation>
    </message>
    <message>
        <source>応答しない別の kelvo が %1 を使っているため、設定を保存できません。</source>
        <translation>Another kelvo, which does not answer, holds %1: the settings cannot be saved.</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>kelvoの設定</source>
        <translation>kelvo Settings</translation>
    </message>
    <message>
        <source>SMTPの設定</source>
        <translation>SMTP Settings</translation>
    </message>
    <message>
        <source>受信携帯電話の設定</source>
        <translation>Receiving Phone</translation>
    </message>
    <message>
        <source>Option</source>
        <translation>Option</translation>
    </message>
    <message>
        <source>暗号化と認証</source>
        <translation>Security</translation>
    </message>
    <message>
        <source>サーバ及び差出人の設定</source>
        <translation>Server and sender</translation>
    </message>
    <message>
        <source>差出人の名前を記入します。</source>
        <translation>Enter the name of the sender here.</translation>
    </message>
    <message>
        <source>ここにはご自分のメールアドレスを記入します。</source>
        <translation>Enter your own mail address here.</translation>
    </message>
    <message>
        <source>ここにSMTPサーバ名を記入します。分からない場合はご利用のプロバイダにお問い合わせください。</source>
        <translation>Enter the name of the SMTP server here. If you do not know it, please ask your provider.</translation>
    </message>
    <message>
        <source>難しい設定 - 通常は触らないでください。</source>
        <translation>Advanced settings - usually best left alone.</translation>
    </message>
    <message>
        <source>通常の場合はここは変更する必要はありません。ご利用のサーバにおいて必要の場合のみ変更ください。</source>
        <translation>Usually this need not change. Change it only when your server needs it.</translation>
    </message>
    <message>
        <source>認証用IDです。サーバによっては必要な場合がありますが、通常は必要ありません。</source>
        <translation>The name kelvo gives the server in its greeting (HELO). Some servers need it; usually it need not change.</translation>
    </message>
    <message>
        <source>受信先携帯電話の設定</source>
        <translation>Receiving phone</translation>
    </message>
    <message>
        <source>kelvo推奨携帯画像サイズに設定   [95 dot]</source>
        <translation>kelvo&apos;s recommended size   [95 dots]</translation>
    </message>
    <message>
        <source>機種一覧から画像サイズを選ぶ</source>
        <translation>The size of a phone model from the list</translation>
    </message>
    <message>
        <source>自分で選択した画像サイズを設定</source>
        <translation>A size of my own choice</translation>
    </message>
    <message>
        <source>Vodafone - ロングメール [6KB]</source>
        <translation>Vodafone - Long Mail [6KB]</translation>
    </message>
    <message>
        <source>Vodafone - スーパーメール [12KB]</source>
        <translation>Vodafone - Super Mail [12KB]</translation>
    </message>
    <message>
        <source>au      - [100KB]</source>
        <translation>au      - [100KB]</translation>
    </message>
    <message>
        <source>その他  - [                 KB]</source>
        <translation>Other   - [                 KB]</translation>
    </message>
    <message>
        <source>その他の設定</source>
        <translation>Other settings</translation>
    </message>
    <message>
        <source>宣伝の設定</source>
        <translation>Advertisement</translation>
    </message>
    <message>
        <source>送信の暗号化と認証</source>
        <translation>Encryption and login for sending</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>空欄なら差出人メールアドレス</source>
        <translation>Empty: the sender mail address</translation>
    </message>
    <message>
        <source>空欄なら保存済みのものを使用</source>
        <translation>Empty: keep the stored one</translation>
    </message>
    <message>
        <source>認証を使うときは STARTTLS か SSL/TLS を選んでください。パスワードはデスクトップのキーリングに保存され、kelvo.ini には書き込まれません。ポート番号は「SMTPの設定」の難しい設定で変えられます。</source>
        <translation>To log in, please choose STARTTLS or SSL/TLS. The password is kept in the desktop&apos;s keyring and never written to kelvo.ini. The port number is one of the advanced settings on the &quot;SMTP Settings&quot; page.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>正しいメールアドレスを最初に入力してください。</source>
        <translation>Please enter a valid mail address first.</translation>
    </message>
    <message>
        <source>SMTPサーバを入力してください。</source>
        <translation>Please enter the SMTP server.</translation>
    </message>
    <message>
        <source>メールアドレスを入力してください。</source>
        <translation>Please enter the mail address.</translation>
    </message>
    <message>
        <source>接続の保護（なし、STARTTLS、SSL/TLS）を選んでください。</source>
        <translation>Please choose the connection security (None, STARTTLS, SSL/TLS).</translation>
    </message>
    <message>
        <source>SMTP認証を使うときは、接続の保護に STARTTLS か SSL/TLS を選んでください。</source>
        <translation>To log in with SMTP authentication, please choose STARTTLS or SSL/TLS as the connection security.</translation>
    </message>
    <message>
        <source>パスワードをキーリングに保存できませんでした。kelvoを終了するまでの間だけ覚えておきます。</source>
        <translation>The password could not be saved in the keyring. kelvo remembers it only until it ends.</translation>
    </message>
    <message>
        <source>kelvoを使うには設定を行う必要があります。設定しますか？</source>
        <translation>kelvo needs its settings before it can be used. Set them now?</translation>
    </message>
    <message>
        <source>差出人の名前(&amp;N)</source>
        <translation>Sender &amp;name</translation>
    </message>
    <message>
        <source>差出人メールアドレス(&amp;A)</source>
        <translation>Sender mail &amp;address</translation>
    </message>
    <message>
        <source>送信用メールサーバ(&amp;SMTP)</source>
        <translation>Outgoing &amp;server (SMTP)</translation>
    </message>
    <message>
        <source>デフォルト送信先アドレス(&amp;D)</source>
        <translation>&amp;Default destination</translation>
    </message>
    <message>
        <source>難しい設定を変更する(&amp;V)。</source>
        <translation>Change the ad&amp;vanced settings.</translation>
    </message>
    <message>
        <source>SMTPポート番号(&amp;P)</source>
        <translation>SMTP &amp;port number</translation>
    </message>
    <message>
        <source>認証用&amp;ID</source>
        <translation>&amp;HELO name</translation>
    </message>
    <message>
        <source>受信画像サイズの設定(&amp;S)</source>
        <translation>Picture &amp;size on the phone</translation>
    </message>
    <message>
        <source>受信可能ファイルサイズの設定(&amp;L)</source>
        <translation>&amp;Largest file the phone takes</translation>
    </message>
    <message>
        <source>このソフトウェアの広告をメールに貼り付けてもよい(&amp;A)</source>
        <translation>kelvo may &amp;add a line about itself to my mails</translation>
    </message>
    <message>
        <source>接続の保護(&amp;C)</source>
        <translation>&amp;Connection security</translation>
    </message>
    <message>
        <source>ログイン名(&amp;L)</source>
        <translation>&amp;Login name</translation>
    </message>
    <message>
        <source>パスワード(&amp;P)</source>
        <translation>&amp;Password</translation>
    </message>
    <message>
        <source>その他のファイルサイズ（KB）</source>
        <translation>Other file size (KB)</translation>
    </message>
    <message>
        <source>ログイン方法(&amp;M)</source>
        <translation>Login &amp;method</translation>
    </message>
    <message>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>Microsoft でサインイン</source>
        <translation>Sign in with Microsoft</translation>
    </message>
    <message>
        <source>Google でサインイン</source>
        <translation>Sign in with Google</translation>
    </message>
    <message>
        <source>デスクトップのアカウント</source>
        <translation>The desktop&apos;s account</translation>
    </message>
    <message>
        <source>その他の OAuth2</source>
        <translation>Other OAuth2</translation>
    </message>
    <message>
        <source>サインイン(&amp;I)…</source>
        <translation>S&amp;ign in…</translation>
    </message>
    <message>
        <source>サインアウト(&amp;O)</source>
        <translation>Sign &amp;out</translation>
    </message>
    <message>
        <source>詳細(&amp;D)…</source>
        <translation>&amp;Details…</translation>
    </message>
    <message>
        <source>ログイン方法を選んでください。</source>
        <translation>Please choose the login method.</translation>
    </message>
    <message>
        <source>デスクトップのオンラインアカウントを確認しています…</source>
        <translation>Looking at the desktop&apos;s online accounts…</translation>
    </message>
    <message>
        <source>%1 のサインインは保存されています。</source>
        <translation>The sign-in of %1 is stored.</translation>
    </message>
    <message>
        <source>%1 のサインインはまだ保存されていません。</source>
        <translation>No sign-in of %1 is stored yet.</translation>
    </message>
    <message>
        <source>デスクトップの %1 のアカウントで %2 から送ります（ポート %3）。トークンは送信のたびにデスクトップから受け取ります。</source>
        <translation>Mail goes out with the desktop&apos;s %1 account through %2 (port %3). The desktop gives the token at each send.</translation>
    </message>
    <message>
        <source>「サインイン」でブラウザに %1 のページが開きます。送信の前に求められたときでもかまいません。サインインの情報はキーリングに保存し、kelvo.ini には書き込みません。</source>
        <translation>&quot;Sign in&quot; opens the page of %1 in your browser; you may also wait until a send asks. The sign-in is kept in the keyring, never in kelvo.ini.</translation>
    </message>
    <message>
        <source>サインインをキーリングに保存できませんでした。kelvoを終了するまでの間だけ覚えておきます。</source>
        <translation>The sign-in could not be saved in the keyring. kelvo remembers it only until it ends.</translation>
    </message>
    <message>
        <source>機種「%1」の「:」の後に、画像サイズのドット数（1 以上の数）がありません。</source>
        <translation>The model &quot;%1&quot; has no picture size after &quot;:&quot; (a number of dots, 1 or more).</translation>
    </message>
</context>
<context>
    <name>SignIn</name>
    <message>
        <source>%1 分以内にブラウザでのサインインが終わりませんでした。</source>
        <translation>The sign-in in the browser did not end within %1 minutes.</translation>
    </message>
    <message>
        <source>別のサインインを待っています。そちらをブラウザで終えるか、キャンセルしてください。</source>
        <translation>Another sign-in is waiting. Please finish it in the browser or cancel it.</translation>
    </message>
    <message>
        <source>サインインの戻り先（127.0.0.1）を開けませんでした。</source>
        <translation>Could not open the place the sign-in returns to (127.0.0.1).</translation>
    </message>
    <message>
        <source>kelvo：%1 へのサインインの結果を受け取りました。このタブは閉じてかまいません。</source>
        <translation>kelvo has received the result of the sign-in to %1. You may close this tab.</translation>
    </message>
    <message>
        <source>ブラウザを開けませんでした。</source>
        <translation>Could not open the browser.</translation>
    </message>
    <message>
        <source>サインインの戻りの state が送ったものと一致しないため、安全のため中止しました。</source>
        <translation>The sign-in came back without the state kelvo sent, so it was stopped to be safe.</translation>
    </message>
    <message>
        <source>%1 がサインインを断りました（%2）。</source>
        <translation>%1 refused the sign-in (%2).</translation>
    </message>
    <message>
        <source>%1 からの戻りにコードがありませんでした。</source>
        <translation>The return from %1 held no code.</translation>
    </message>
    <message>
        <source>サインインをキャンセルしました。</source>
        <translation>The sign-in was cancelled.</translation>
    </message>
    <message>
        <source>OAuth2 のプロバイダ</source>
        <translation>the OAuth2 provider</translation>
    </message>
    <message>
        <source>「詳細…」で認可ページのURL、トークンのURL、スコープを入力してください。</source>
        <translation>Please enter the authorization URL, the token URL and the scope under &quot;Details…&quot;.</translation>
    </message>
    <message>
        <source>%1 は https:// で始まるURLではありません。</source>
        <translation>%1 is not a URL that begins with https://.</translation>
    </message>
    <message>
        <source>この kelvo には %1 のクライアントIDがありません。README の「サインイン用のクライアントID」の手順で登録し、「詳細…」に入力してください。</source>
        <translation>This kelvo has no client ID for %1. Register one as the README shows (&quot;Client IDs for signing in&quot;) and enter it under &quot;Details…&quot;.</translation>
    </message>
    <message>
        <source>デスクトップにオンラインアカウントのサービス（GNOME Online Accounts）がありません。</source>
        <translation>The desktop has no online accounts service (GNOME Online Accounts).</translation>
    </message>
    <message>
        <source>デスクトップのオンラインアカウントが %1 秒以内に応答しませんでした。</source>
        <translation>The desktop&apos;s online accounts did not answer within %1 seconds.</translation>
    </message>
    <message>
        <source>デスクトップのセッションバス（D-Bus）に接続できません。</source>
        <translation>Cannot connect to the desktop&apos;s session bus (D-Bus).</translation>
    </message>
    <message>
        <source>デスクトップのオンラインアカウントがエラーを返しました（%1）。</source>
        <translation>The desktop&apos;s online accounts answered with an error (%1).</translation>
    </message>
    <message>
        <source>サインインを中止しました。</source>
        <translation>The sign-in was stopped.</translation>
    </message>
    <message>
        <source>デスクトップの %1 のアカウントはパスワードでログインするもので、OAuth2 のサインインではありません。</source>
        <translation>The desktop&apos;s account of %1 logs in with a password, not with an OAuth2 sign-in.</translation>
    </message>
    <message>
        <source>デスクトップのオンラインアカウントに %1 のメールアカウントがありません。</source>
        <translation>The desktop&apos;s online accounts hold no mail account of %1.</translation>
    </message>
    <message>
        <source>デスクトップのオンラインアカウントがアクセストークンを返しませんでした。</source>
        <translation>The desktop&apos;s online account gave no access token.</translation>
    </message>
    <message>
        <source>トークンの発行元 %1 は https:// で始まる必要があります。</source>
        <translation>The token endpoint %1 must begin with https://.</translation>
    </message>
    <message>
        <source>%1 の応答が大きすぎます（%2 バイトまで）。</source>
        <translation>The answer of %1 is too large (%2 bytes at most).</translation>
    </message>
    <message>
        <source>%1 に接続できませんでした（%2）。</source>
        <translation>Could not connect to %1 (%2).</translation>
    </message>
    <message>
        <source>%1 が別の場所（%2）へ転送しようとしました。サインインの情報は転送しません。</source>
        <translation>%1 tried to redirect elsewhere (%2). kelvo does not pass a sign-in on.</translation>
    </message>
    <message>
        <source>%1 の応答はトークンではありませんでした（HTTP %2、%3）。</source>
        <translation>The answer of %1 was no token (HTTP %2, %3).</translation>
    </message>
    <message>
        <source>%1 へのサインインは終了しています（%2）。もう一度サインインしてください。</source>
        <translation>The sign-in to %1 has ended (%2). Please sign in again.</translation>
    </message>
    <message>
        <source>%1 がトークンの発行を断りました（HTTP %2、%3）。</source>
        <translation>%1 refused to give a token (HTTP %2, %3).</translation>
    </message>
    <message>
        <source>%1 の応答に使えるアクセストークンがありませんでした。</source>
        <translation>The answer of %1 held no access token kelvo can use.</translation>
    </message>
    <message>
        <source>%1 が %2 秒以内に応答しませんでした。</source>
        <translation>%1 did not answer within %2 seconds.</translation>
    </message>
</context>
<context>
    <name>SignInWindow</name>
    <message>
        <source>サインイン</source>
        <translation>Sign In</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>ブラウザで %1 のページが開きました。そこでサインインしてください。
ブラウザでのサインインを待っています…（%2 分で打ち切ります）</source>
        <translation>The page of %1 has opened in your browser. Please sign in there.
Waiting for the sign-in in your browser… (it ends after %2 minutes)</translation>
    </message>
    <message>
        <source>%1 からサインインの結果を受け取っています…</source>
        <translation>Receiving the result of the sign-in from %1…</translation>
    </message>
</context>
</TS>
