<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>morvane::FrontPanel</name>
    <message>
        <source>VCO設定</source>
        <translation>VCO</translation>
    </message>
    <message>
        <source>音量1</source>
        <translation>Vol 1</translation>
    </message>
    <message>
        <source>音量2</source>
        <translation>Vol 2</translation>
    </message>
    <message>
        <source>幅1</source>
        <translation>PW 1</translation>
    </message>
    <message>
        <source>幅2</source>
        <translation>PW 2</translation>
    </message>
    <message>
        <source>モジュレーション</source>
        <translation>Modulation</translation>
    </message>
    <message>
        <source>ノイズ</source>
        <translation>Noise</translation>
    </message>
    <message>
        <source>エコー</source>
        <translation>Echo</translation>
    </message>
    <message>
        <source>ディストーション</source>
        <translation>Distortion</translation>
    </message>
    <message>
        <source>効果</source>
        <translation>Drive</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Vol</translation>
    </message>
    <message>
        <source>VCAエンベロープ</source>
        <translation>VCA Envelope</translation>
    </message>
    <message>
        <source>ｱﾀｯｸ</source>
        <translation>Attack</translation>
    </message>
    <message>
        <source>ﾃﾞｨｹｲ</source>
        <translation>Decay</translation>
    </message>
    <message>
        <source>ｻｽﾃｨﾝ</source>
        <translation>Sustain</translation>
    </message>
    <message>
        <source>ﾘﾘｰｽ</source>
        <translation>Release</translation>
    </message>
    <message>
        <source>VCFエンベロープ</source>
        <translation>VCF Envelope</translation>
    </message>
    <message>
        <source>ｶｯﾄｵﾌ</source>
        <translation>Cutoff</translation>
    </message>
    <message>
        <source>ｲﾝﾃﾝｼﾃｨ</source>
        <translation>Amount</translation>
    </message>
    <message>
        <source>ﾚｿﾞﾅﾝｽ</source>
        <translation>Reso</translation>
    </message>
    <message>
        <source>波形1</source>
        <translation>Wave 1</translation>
    </message>
    <message>
        <source>波形2</source>
        <translation>Wave 2</translation>
    </message>
    <message>
        <source>ｵｸﾀｰﾌﾞ1</source>
        <translation>Octave 1</translation>
    </message>
    <message>
        <source>ｵｸﾀｰﾌﾞ2</source>
        <translation>Octave 2</translation>
    </message>
    <message>
        <source>コーラス効果</source>
        <translation>Chorus</translation>
    </message>
    <message>
        <source>常にON</source>
        <translation>Always on</translation>
    </message>
    <message>
        <source>VCFエンベロープを使用する</source>
        <translation>Use the VCF envelope</translation>
    </message>
    <message>
        <source>三角波</source>
        <translation>Triangle</translation>
    </message>
    <message>
        <source>矩形波</source>
        <translation>Square</translation>
    </message>
    <message>
        <source>音色保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>音色プリセット</source>
        <translation>Presets</translation>
    </message>
    <message>
        <source>保存先を選択してください</source>
        <translation>Choose the preset to save to</translation>
    </message>
    <message>
        <source>ﾉｺｷﾞﾘ波</source>
        <translation>Saw</translation>
    </message>
    <message>
        <source>チューニング</source>
        <translation>Tuning</translation>
    </message>
    <message>
        <source>リセット</source>
        <translation>Reset</translation>
    </message>
</context>
<context>
    <name>morvane::MainWindow</name>
    <message>
        <source>録音</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Vol</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>サウンドサーバーを起動してください。起動すると Morvane は自動的に接続します。</source>
        <translation>Start the sound server; Morvane connects to it by itself when it comes.</translation>
    </message>
</context>
<context>
    <name>morvane::Messages</name>
    <message>
        <source>ファイル %1 は開けません.</source>
        <translation>The file %1 cannot be opened.</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できません.</source>
        <translation>The file %1 cannot be created.</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できません。</source>
        <translation>The file %1 cannot be created.</translation>
    </message>
    <message>
        <source>ファイル %1 に書き込めないため、録音を中止しました。</source>
        <translation>The recording stopped: the file %1 cannot be written.</translation>
    </message>
    <message>
        <source>エラー</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>morvane::MidiLearnMenu</name>
    <message>
        <source>MIDI学習</source>
        <translation>MIDI Learn</translation>
    </message>
    <message>
        <source>MIDI学習を解除</source>
        <translation>Forget MIDI Controller</translation>
    </message>
    <message>
        <source>割り当て: %1</source>
        <translation>Bound to %1</translation>
    </message>
    <message>
        <source>割り当て: なし</source>
        <translation>Bound to nothing</translation>
    </message>
</context>
<context>
    <name>morvane::MidiWindow</name>
    <message>
        <source>MIDI設定</source>
        <translation>MIDI Settings</translation>
    </message>
    <message>
        <source>演奏</source>
        <translation>Playing</translation>
    </message>
    <message>
        <source>すべて</source>
        <translation>All</translation>
    </message>
    <message>
        <source>--midi-channel=%1 が優先されています</source>
        <translation>--midi-channel=%1 overrides this</translation>
    </message>
    <message>
        <source>チャンネル</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>ベロシティ→音量</source>
        <translation>Velocity → volume</translation>
    </message>
    <message>
        <source>ベロシティ→カットオフ</source>
        <translation>Velocity → cutoff</translation>
    </message>
    <message>
        <source>ベンド幅</source>
        <translation>Bend range</translation>
    </message>
    <message>
        <source> 半音</source>
        <translation> semitones</translation>
    </message>
    <message>
        <source>MIDI入力元</source>
        <translation>MIDI sources</translation>
    </message>
    <message>
        <source>コントローラー割り当て</source>
        <translation>Controller bindings</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>初期設定に戻す</source>
        <translation>Restore defaults</translation>
    </message>
    <message>
        <source>%1 は %2 から %3 に移りました</source>
        <translation>%1 moved from %2 to %3</translation>
    </message>
</context>
<context>
    <name>morvane::TAboutBox</name>
    <message>
        <source>バージョン情報</source>
        <translation>About Morvane</translation>
    </message>
    <message>
        <source>5音ポリフォニック シンセサイザー</source>
        <translation>5-voice polyphonic synthesizer</translation>
    </message>
    <message>
        <source>＜注意＞</source>
        <translation>&lt;Note&gt;</translation>
    </message>
    <message>
        <source>録音は1ファイル10分までです。</source>
        <translation>A recording file holds at most 10 minutes.</translation>
    </message>
    <message>
        <source>Ctrlキーを押している間、LFOがかかります。</source>
        <translation>The LFO bends the pitch while Ctrl is held.</translation>
    </message>
    <message>
        <source>設定ファイル: </source>
        <translation>Settings file: </translation>
    </message>
    <message>
        <source>録音の保存先: </source>
        <translation>Recordings go to: </translation>
    </message>
    <message>
        <source>出力: なし（サウンドデバイスを待っています）</source>
        <translation>Output: none (waiting for a sound device)</translation>
    </message>
    <message>
        <source>出力: %1（%2）</source>
        <translation>Output: %1 (%2)</translation>
    </message>
    <message>
        <source>%1 Hz、バッファ %2 フレーム（%3 ms）、遅延 %4 ms</source>
        <translation>%1 Hz, buffer of %2 frames (%3 ms), latency %4 ms</translation>
    </message>
    <message>
        <source>確認中</source>
        <translation>checking</translation>
    </message>
    <message>
        <source>あり</source>
        <translation>yes</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>no</translation>
    </message>
    <message>
        <source>リアルタイム優先度: %1、アンダーラン: %2 回</source>
        <translation>Real-time priority: %1, underruns: %2</translation>
    </message>
    <message>
        <source>、バッファ拡大済み</source>
        <translation>, buffer enlarged</translation>
    </message>
</context>
</TS>
