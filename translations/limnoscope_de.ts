<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Limnoscope</name>
    <message id="%lld">
        <source>%lld</source>
        <translation>%1</translation>
    </message>
    <message id="%lld / %lld">
        <source>%lld / %lld</source>
        <translation>%1 / %2</translation>
    </message>
    <message id="cannot_read_folder">
        <source>cannot_read_folder</source>
        <translation>Der Ordner „%1“ kann nicht gelesen werden: %2.</translation>
    </message>
    <message id="cannot_read_image">
        <source>cannot_read_image</source>
        <translation>Das Bild „%1“ kann nicht gelesen werden: %2.</translation>
    </message>
    <message id="copied">
        <source>copied</source>
        <translation>Kopiert</translation>
    </message>
    <message id="copy_all">
        <source>copy_all</source>
        <translation>Alle kopieren</translation>
    </message>
    <message id="copy_json">
        <source>copy_json</source>
        <translation>JSON kopieren</translation>
    </message>
    <message id="copy_text">
        <source>copy_text</source>
        <translation>Kopieren</translation>
    </message>
    <message id="ctx_copy_image">
        <source>ctx_copy_image</source>
        <translation>Bild kopieren</translation>
    </message>
    <message id="ctx_copy_path">
        <source>ctx_copy_path</source>
        <translation>Pfad kopieren</translation>
    </message>
    <message id="ctx_delete_file">
        <source>ctx_delete_file</source>
        <translation>In den Papierkorb verschieben</translation>
    </message>
    <message id="ctx_generate_in_limnora">
        <source>ctx_generate_in_limnora</source>
        <translation>In Limnora generieren</translation>
    </message>
    <message id="ctx_quicklook">
        <source>ctx_quicklook</source>
        <translation>Schnellansicht</translation>
    </message>
    <message id="ctx_reveal_finder">
        <source>ctx_reveal_finder</source>
        <translation>Im Dateimanager zeigen</translation>
    </message>
    <message id="ctx_same_model">
        <source>ctx_same_model</source>
        <translation>Gleiches Modell</translation>
    </message>
    <message id="ctx_same_prompt">
        <source>ctx_same_prompt</source>
        <translation>Gleicher Prompt</translation>
    </message>
    <message id="ctx_same_seed">
        <source>ctx_same_seed</source>
        <translation>Gleicher Seed</translation>
    </message>
    <message id="ctx_tags">
        <source>ctx_tags</source>
        <translation>Markierungen</translation>
    </message>
    <message id="delete_alert_cancel">
        <source>delete_alert_cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message id="delete_alert_confirm">
        <source>delete_alert_confirm</source>
        <translation>In den Papierkorb</translation>
    </message>
    <message id="delete_alert_message">
        <source>delete_alert_message</source>
        <translation>„%1“ in den Papierkorb verschieben?</translation>
    </message>
    <message id="delete_multi_alert_message">
        <source>delete_multi_alert_message</source>
        <translation>%1 Bilder in den Papierkorb verschieben?</translation>
    </message>
    <message id="drop_hint">
        <source>drop_hint</source>
        <translation>Ordner oder Bilder hierher ziehen</translation>
    </message>
    <message id="dropped_image_count" numerus="yes">
        <source>dropped_image_count</source>
        <translation>
            <numerusform>%n Bild</numerusform>
            <numerusform>%n Bilder</numerusform>
        </translation>
    </message>
    <message id="error_input_output">
        <source>error_input_output</source>
        <translation>Ein-/Ausgabefehler</translation>
    </message>
    <message id="error_link_loop">
        <source>error_link_loop</source>
        <translation>zu viele Ebenen symbolischer Verknüpfungen</translation>
    </message>
    <message id="error_name_too_long">
        <source>error_name_too_long</source>
        <translation>Name zu lang</translation>
    </message>
    <message id="error_no_such_file">
        <source>error_no_such_file</source>
        <translation>Datei oder Ordner nicht vorhanden</translation>
    </message>
    <message id="error_not_a_regular_file">
        <source>error_not_a_regular_file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message id="error_not_a_folder">
        <source>error_not_a_folder</source>
        <translation>kein Ordner</translation>
    </message>
    <message id="error_permission_denied">
        <source>error_permission_denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message id="error_too_many_open_files">
        <source>error_too_many_open_files</source>
        <translation>zu viele geöffnete Dateien</translation>
    </message>
    <message id="filter_pending" numerus="yes">
        <source>filter_pending</source>
        <translation>
            <numerusform>%n Bild noch nicht gelesen</numerusform>
            <numerusform>%n Bilder noch nicht gelesen</numerusform>
        </translation>
    </message>
    <message id="filter_placeholder">
        <source>filter_placeholder</source>
        <translation>Nach Prompt, Modell, Seed… filtern</translation>
    </message>
    <message id="filter_tooltip">
        <source>filter_tooltip</source>
        <translation>Wörter werden in Prompt, Negativ-Prompt, Modell, LoRAs, Sampler und Dateiname gesucht; alle müssen passen. „Phrasen in Anführungszeichen“ passen nur als Ganzes, -wort schließt aus. Felder: prompt: neg: model: lora: sampler: seed: steps: size: cfg: generator: tag: file: — Zahlen auch mit &gt; und &lt; (steps:&gt;30).</translation>
    </message>
    <message id="folder_gone">
        <source>folder_gone</source>
        <translation>Der Ordner „%1“ ist nicht mehr vorhanden: Er wurde verschoben, umbenannt oder gelöscht. Öffnen Sie ihn erneut, sobald er wieder da ist.</translation>
    </message>
    <message id="generate_outcome_sent">
        <source>generate_outcome_sent</source>
        <translation>An Limnora gesendet</translation>
    </message>
    <message id="generate_outcome_status">
        <source>generate_outcome_status</source>
        <translation>Limnora antwortete mit HTTP-Status %1</translation>
    </message>
    <message id="generate_outcome_unreachable">
        <source>generate_outcome_unreachable</source>
        <translation>Limnora ist nicht erreichbar</translation>
    </message>
    <message id="generator_line">
        <source>generator_line</source>
        <translation>Erstellt mit %1</translation>
    </message>
    <message id="generator_unknown">
        <source>generator_unknown</source>
        <translation>Generator nicht erkannt</translation>
    </message>
    <message id="hide_preview">
        <source>hide_preview</source>
        <translation>Vorschau ausblenden</translation>
    </message>
    <message id="limnora_not_running">
        <source>limnora_not_running</source>
        <translation>Limnora läuft nicht</translation>
    </message>
    <message id="limnora_running">
        <source>limnora_running</source>
        <translation>Limnora läuft (%1)</translation>
    </message>
    <message id="menu_find">
        <source>menu_find</source>
        <translation>&amp;Suchen…</translation>
    </message>
    <message id="menu_sort">
        <source>menu_sort</source>
        <translation>Sortieren nach</translation>
    </message>
    <message id="menu_tags">
        <source>menu_tags</source>
        <translation>&amp;Markierungen</translation>
    </message>
    <message id="no_exif_data">
        <source>no_exif_data</source>
        <translation>Dieses Bild enthält keine Generierungseinstellungen.</translation>
    </message>
    <message id="no_folder_selected">
        <source>no_folder_selected</source>
        <translation>Kein Ordner ausgewählt</translation>
    </message>
    <message id="no_images_in_folder">
        <source>no_images_in_folder</source>
        <translation>Keine Bilder in diesem Ordner.</translation>
    </message>
    <message id="no_settings">
        <source>no_settings</source>
        <translation>Keine Einstellungen</translation>
    </message>
    <message id="open_folder_button">
        <source>open_folder_button</source>
        <translation>Ordner öffnen…</translation>
    </message>
    <message id="open_folder_tooltip">
        <source>open_folder_tooltip</source>
        <translation>Einen Ordner öffnen</translation>
    </message>
    <message id="position_of_listed">
        <source>position_of_listed</source>
        <translation>%1 / %2 von %3</translation>
    </message>
    <message id="query_error_comparison_on_text">
        <source>query_error_comparison_on_text</source>
        <translation>„%1:“ enthält Text und kennt kein &gt; oder &lt;; das können nur %2.</translation>
    </message>
    <message id="query_error_empty_value">
        <source>query_error_empty_value</source>
        <translation>Nach „%1:“ fehlt, wonach gesucht werden soll.</translation>
    </message>
    <message id="query_error_lone_minus">
        <source>query_error_lone_minus</source>
        <translation>Auf ein „-“ muss folgen, was ausgeschlossen werden soll, etwa -blurry.</translation>
    </message>
    <message id="query_error_not_a_number">
        <source>query_error_not_a_number</source>
        <translation>„%1:“ erwartet eine Zahl, auch nach &gt;, &lt;, &gt;= oder &lt;=, nicht „%2“.</translation>
    </message>
    <message id="query_error_unclosed_quote">
        <source>query_error_unclosed_quote</source>
        <translation>Ein Anführungszeichen wird nicht geschlossen.</translation>
    </message>
    <message id="query_error_unknown_field">
        <source>query_error_unknown_field</source>
        <translation>Unbekanntes Feld „%1:“. Felder: %2. Text mit Doppelpunkt bitte in Anführungszeichen setzen.</translation>
    </message>
    <message id="query_error_unknown_tag">
        <source>query_error_unknown_tag</source>
        <translation>Unbekannte Farbmarkierung „%1“. Markierungen: %2.</translation>
    </message>
    <message id="raw_metadata_hide">
        <source>raw_metadata_hide</source>
        <translation>Ausblenden</translation>
    </message>
    <message id="raw_metadata_more">
        <source>raw_metadata_more</source>
        <translation>… %1 weitere Zeichen („Alle kopieren“ kopiert den ganzen Text)</translation>
    </message>
    <message id="raw_metadata_show">
        <source>raw_metadata_show</source>
        <translation>Anzeigen (%1)</translation>
    </message>
    <message id="section_loras">
        <source>section_loras</source>
        <translation>LoRAs</translation>
    </message>
    <message id="section_negative_prompt">
        <source>section_negative_prompt</source>
        <translation>Negativer Prompt</translation>
    </message>
    <message id="section_prompt">
        <source>section_prompt</source>
        <translation>Prompt</translation>
    </message>
    <message id="section_raw_metadata">
        <source>section_raw_metadata</source>
        <translation>Rohdaten</translation>
    </message>
    <message id="section_settings">
        <source>section_settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message id="select_image_hint">
        <source>select_image_hint</source>
        <translation>Wählen Sie ein Bild, um zu sehen, wie es generiert wurde.</translation>
    </message>
    <message id="setting_batch_count">
        <source>setting_batch_count</source>
        <translation>Stapelanzahl</translation>
    </message>
    <message id="setting_batch_size">
        <source>setting_batch_size</source>
        <translation>Stapelgröße</translation>
    </message>
    <message id="setting_clip_skip">
        <source>setting_clip_skip</source>
        <translation>CLIP-Skip</translation>
    </message>
    <message id="setting_refiner_model">
        <source>setting_refiner_model</source>
        <translation>Refiner-Modell</translation>
    </message>
    <message id="setting_upscaler">
        <source>setting_upscaler</source>
        <translation>Hochskalierer</translation>
    </message>
    <message id="setting_upscale">
        <source>setting_upscale</source>
        <translation>Hochskalierung</translation>
    </message>
    <message id="setting_vae">
        <source>setting_vae</source>
        <translation>VAE</translation>
    </message>
    <message id="setting_other_samplers">
        <source>setting_other_samplers</source>
        <translation>Weitere Sampler</translation>
    </message>
    <message id="setting_model_hash">
        <source>setting_model_hash</source>
        <translation>Modell-Hash</translation>
    </message>
    <message id="setting_vae_hash">
        <source>setting_vae_hash</source>
        <translation>VAE-Hash</translation>
    </message>
    <message id="setting_lora_hashes">
        <source>setting_lora_hashes</source>
        <translation>LoRA-Hashes</translation>
    </message>
    <message id="setting_ti_hashes">
        <source>setting_ti_hashes</source>
        <translation>TI-Hashes</translation>
    </message>
    <message id="setting_denoising_strength">
        <source>setting_denoising_strength</source>
        <translation>Entrauschungsstärke</translation>
    </message>
    <message id="setting_hires_upscaler">
        <source>setting_hires_upscaler</source>
        <translation>Hires-Hochskalierer</translation>
    </message>
    <message id="setting_hires_upscale">
        <source>setting_hires_upscale</source>
        <translation>Hires-Hochskalierung</translation>
    </message>
    <message id="setting_hires_steps">
        <source>setting_hires_steps</source>
        <translation>Hires-Schritte</translation>
    </message>
    <message id="setting_face_restoration">
        <source>setting_face_restoration</source>
        <translation>Gesichtskorrektur</translation>
    </message>
    <message id="setting_face_restoration_strength">
        <source>setting_face_restoration_strength</source>
        <translation>Stärke der Gesichtskorrektur</translation>
    </message>
    <message id="setting_codeformer_fidelity">
        <source>setting_codeformer_fidelity</source>
        <translation>CodeFormer-Treue</translation>
    </message>
    <message id="setting_init_image">
        <source>setting_init_image</source>
        <translation>Ausgangsbild</translation>
    </message>
    <message id="setting_iterations">
        <source>setting_iterations</source>
        <translation>Durchläufe</translation>
    </message>
    <message id="setting_noise">
        <source>setting_noise</source>
        <translation>Rauschen</translation>
    </message>
    <message id="setting_sharpness">
        <source>setting_sharpness</source>
        <translation>Schärfe</translation>
    </message>
    <message id="setting_flux_guidance">
        <source>setting_flux_guidance</source>
        <translation>Flux-Guidance</translation>
    </message>
    <message id="setting_start_step">
        <source>setting_start_step</source>
        <translation>Startschritt</translation>
    </message>
    <message id="setting_end_step">
        <source>setting_end_step</source>
        <translation>Endschritt</translation>
    </message>
    <message id="setting_schedule_type">
        <source>setting_schedule_type</source>
        <translation>Scheduler-Typ</translation>
    </message>
    <message id="setting_version">
        <source>setting_version</source>
        <translation>Version</translation>
    </message>
    <message id="setting_cfg">
        <source>setting_cfg</source>
        <translation>Guidance-Skala</translation>
    </message>
    <message id="setting_hires_fix">
        <source>setting_hires_fix</source>
        <translation>Hires-Fix</translation>
    </message>
    <message id="setting_model">
        <source>setting_model</source>
        <translation>Modell</translation>
    </message>
    <message id="setting_render_time">
        <source>setting_render_time</source>
        <translation>Renderzeit</translation>
    </message>
    <message id="setting_sampler">
        <source>setting_sampler</source>
        <translation>Sampler</translation>
    </message>
    <message id="setting_seed">
        <source>setting_seed</source>
        <translation>Seed</translation>
    </message>
    <message id="setting_seed_mode">
        <source>setting_seed_mode</source>
        <translation>Seed-Modus</translation>
    </message>
    <message id="setting_shift">
        <source>setting_shift</source>
        <translation>Shift</translation>
    </message>
    <message id="setting_size">
        <source>setting_size</source>
        <translation>Größe</translation>
    </message>
    <message id="setting_steps">
        <source>setting_steps</source>
        <translation>Schritte</translation>
    </message>
    <message id="setting_strength">
        <source>setting_strength</source>
        <translation>Stärke</translation>
    </message>
    <message id="show_preview">
        <source>show_preview</source>
        <translation>Vorschau einblenden</translation>
    </message>
    <message id="skipped_unreadable_names" numerus="yes">
        <source>skipped_unreadable_names</source>
        <translation>
            <numerusform>%n Datei mit unlesbarem Namen wurde übersprungen</numerusform>
            <numerusform>%n Dateien mit unlesbaren Namen wurden übersprungen</numerusform>
        </translation>
    </message>
    <message id="sort_date_asc">
        <source>sort_date_asc</source>
        <translation>Erstellungsdatum (älteste zuerst)</translation>
    </message>
    <message id="sort_date_desc">
        <source>sort_date_desc</source>
        <translation>Erstellungsdatum (neueste zuerst)</translation>
    </message>
    <message id="sort_name_asc">
        <source>sort_name_asc</source>
        <translation>Name (A bis Z)</translation>
    </message>
    <message id="sort_name_desc">
        <source>sort_name_desc</source>
        <translation>Name (Z bis A)</translation>
    </message>
    <message id="tag_blue">
        <source>tag_blue</source>
        <translation>Blau</translation>
    </message>
    <message id="tag_gray">
        <source>tag_gray</source>
        <translation>Grau</translation>
    </message>
    <message id="tag_green">
        <source>tag_green</source>
        <translation>Grün</translation>
    </message>
    <message id="tag_orange">
        <source>tag_orange</source>
        <translation>Orange</translation>
    </message>
    <message id="tag_purple">
        <source>tag_purple</source>
        <translation>Lila</translation>
    </message>
    <message id="tag_red">
        <source>tag_red</source>
        <translation>Rot</translation>
    </message>
    <message id="tag_remove_all">
        <source>tag_remove_all</source>
        <translation>Alle &amp;Markierungen entfernen</translation>
    </message>
    <message id="tag_yellow">
        <source>tag_yellow</source>
        <translation>Gelb</translation>
    </message>
    <message id="menu_file">
        <source>menu_file</source>
        <translation>&amp;Datei</translation>
    </message>
    <message id="menu_edit">
        <source>menu_edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message id="menu_view">
        <source>menu_view</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message id="menu_compare">
        <source>menu_compare</source>
        <translation>&amp;Vergleichen</translation>
    </message>
    <message id="compare_title">
        <source>compare_title</source>
        <translation>Vergleich</translation>
    </message>
    <message id="compare_close">
        <source>compare_close</source>
        <translation>Schließen (Esc)</translation>
    </message>
    <message id="compare_reading">
        <source>compare_reading</source>
        <translation>Wird gelesen…</translation>
    </message>
    <message id="compare_no_metadata">
        <source>compare_no_metadata</source>
        <translation>Dieses Bild enthält keine Generierungseinstellungen.</translation>
    </message>
    <message id="compare_generator">
        <source>compare_generator</source>
        <translation>Generator</translation>
    </message>
    <message id="menu_clear_metadata_index">
        <source>menu_clear_metadata_index</source>
        <translation>&amp;Metadaten-Index leeren</translation>
    </message>
    <message id="metadata_index_cleared">
        <source>metadata_index_cleared</source>
        <translation>Metadaten-Index geleert: Bilder werden neu gelesen.</translation>
    </message>
    <message id="metadata_index_not_cleared">
        <source>metadata_index_not_cleared</source>
        <translation>Der Metadaten-Index konnte nicht geleert werden.</translation>
    </message>
    <message id="menu_quit">
        <source>menu_quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message id="menu_open_folder">
        <source>menu_open_folder</source>
        <translation>&amp;Ordner öffnen…</translation>
    </message>
    <message id="menu_copy_prompt">
        <source>menu_copy_prompt</source>
        <translation>&amp;Prompt kopieren</translation>
    </message>
    <message id="menu_copy_negative_prompt">
        <source>menu_copy_negative_prompt</source>
        <translation>&amp;Negativen Prompt kopieren</translation>
    </message>
    <message id="menu_copy_settings_json">
        <source>menu_copy_settings_json</source>
        <translation>Einstellungen als &amp;JSON kopieren</translation>
    </message>
    <message id="menu_move_to_trash">
        <source>menu_move_to_trash</source>
        <translation>In den Papier&amp;korb verschieben</translation>
    </message>
    <message id="menu_move_to_trash_without_asking">
        <source>menu_move_to_trash_without_asking</source>
        <translation>&amp;Ohne Nachfrage in den Papierkorb verschieben</translation>
    </message>
    <message id="menu_tag_red">
        <source>menu_tag_red</source>
        <translation>&amp;Rot</translation>
    </message>
    <message id="menu_tag_orange">
        <source>menu_tag_orange</source>
        <translation>&amp;Orange</translation>
    </message>
    <message id="menu_tag_yellow">
        <source>menu_tag_yellow</source>
        <translation>G&amp;elb</translation>
    </message>
    <message id="menu_tag_green">
        <source>menu_tag_green</source>
        <translation>Gr&amp;ün</translation>
    </message>
    <message id="menu_tag_blue">
        <source>menu_tag_blue</source>
        <translation>&amp;Blau</translation>
    </message>
    <message id="menu_tag_purple">
        <source>menu_tag_purple</source>
        <translation>&amp;Lila</translation>
    </message>
    <message id="menu_tag_gray">
        <source>menu_tag_gray</source>
        <translation>Gr&amp;au</translation>
    </message>
    <message id="menu_sort_by">
        <source>menu_sort_by</source>
        <translation>&amp;Sortieren nach</translation>
    </message>
    <message id="menu_show_preview">
        <source>menu_show_preview</source>
        <translation>Vorschau an&amp;zeigen</translation>
    </message>
    <message id="menu_go">
        <source>menu_go</source>
        <translation>&amp;Gehe zu</translation>
    </message>
    <message id="menu_previous_image">
        <source>menu_previous_image</source>
        <translation>&amp;Vorheriges Bild</translation>
    </message>
    <message id="menu_next_image">
        <source>menu_next_image</source>
        <translation>&amp;Nächstes Bild</translation>
    </message>
    <message id="menu_first_image">
        <source>menu_first_image</source>
        <translation>&amp;Erstes Bild</translation>
    </message>
    <message id="menu_quick_look">
        <source>menu_quick_look</source>
        <translation>&amp;Schnellansicht</translation>
    </message>
    <message id="menu_last_image">
        <source>menu_last_image</source>
        <translation>&amp;Letztes Bild</translation>
    </message>
    <message id="render_time_seconds">
        <source>render_time_seconds</source>
        <translation>%1 s</translation>
    </message>
    <message id="render_time_minutes">
        <source>render_time_minutes</source>
        <translation>%1:%2 min</translation>
    </message>
    <message id="trash_error_missing">
        <source>trash_error_missing</source>
        <translation>Die Datei ist nicht mehr vorhanden.</translation>
    </message>
    <message id="trash_error_unusable">
        <source>trash_error_unusable</source>
        <translation>Der Papierkorb kann nicht benutzt werden.</translation>
    </message>
    <message id="trash_error_no_data_folder">
        <source>trash_error_no_data_folder</source>
        <translation>Für den Papierkorb gibt es keinen Datenordner: HOME oder XDG_DATA_HOME nennt keinen absoluten Ordner.</translation>
    </message>
    <message id="trash_error_drive_unusable">
        <source>trash_error_drive_unusable</source>
        <translation>Der Papierkorb-Ordner dieses Laufwerks kann nicht benutzt werden.</translation>
    </message>
    <message id="trash_error_system">
        <source>trash_error_system</source>
        <translation>Das System hat das Verschieben abgelehnt: %1</translation>
    </message>
    <message id="trash_failed_message">
        <source>trash_failed_message</source>
        <translation>„%1“ konnte nicht in den Papierkorb verschoben werden.</translation>
    </message>
    <message id="trash_failed_multi_message">
        <source>trash_failed_multi_message</source>
        <translation>%1 Dateien konnten nicht in den Papierkorb verschoben werden.</translation>
    </message>
    <message id="trash_failure_line">
        <source>trash_failure_line</source>
        <translation>%1: %2</translation>
    </message>
</context>
</TS>
