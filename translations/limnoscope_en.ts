<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
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
        <translation>Cannot read folder “%1”: %2.</translation>
    </message>
    <message id="cannot_read_image">
        <source>cannot_read_image</source>
        <translation>Cannot read image “%1”: %2.</translation>
    </message>
    <message id="copied">
        <source>copied</source>
        <translation>Copied</translation>
    </message>
    <message id="copy_all">
        <source>copy_all</source>
        <translation>Copy All</translation>
    </message>
    <message id="copy_json">
        <source>copy_json</source>
        <translation>Copy JSON</translation>
    </message>
    <message id="copy_text">
        <source>copy_text</source>
        <translation>Copy</translation>
    </message>
    <message id="ctx_copy_image">
        <source>ctx_copy_image</source>
        <translation>Copy Image</translation>
    </message>
    <message id="ctx_copy_path">
        <source>ctx_copy_path</source>
        <translation>Copy Path</translation>
    </message>
    <message id="ctx_delete_file">
        <source>ctx_delete_file</source>
        <translation>Move to Trash</translation>
    </message>
    <message id="ctx_generate_in_limnora">
        <source>ctx_generate_in_limnora</source>
        <translation>Generate in Limnora</translation>
    </message>
    <message id="ctx_quicklook">
        <source>ctx_quicklook</source>
        <translation>Quick Look</translation>
    </message>
    <message id="ctx_reveal_finder">
        <source>ctx_reveal_finder</source>
        <translation>Show in File Manager</translation>
    </message>
    <message id="ctx_same_model">
        <source>ctx_same_model</source>
        <translation>Same Model</translation>
    </message>
    <message id="ctx_same_prompt">
        <source>ctx_same_prompt</source>
        <translation>Same Prompt</translation>
    </message>
    <message id="ctx_same_seed">
        <source>ctx_same_seed</source>
        <translation>Same Seed</translation>
    </message>
    <message id="ctx_tags">
        <source>ctx_tags</source>
        <translation>Tags</translation>
    </message>
    <message id="delete_alert_cancel">
        <source>delete_alert_cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="delete_alert_confirm">
        <source>delete_alert_confirm</source>
        <translation>Move to Trash</translation>
    </message>
    <message id="delete_alert_message">
        <source>delete_alert_message</source>
        <translation>Move “%1” to the Trash?</translation>
    </message>
    <message id="delete_multi_alert_message">
        <source>delete_multi_alert_message</source>
        <translation>Move %1 images to the Trash?</translation>
    </message>
    <message id="drop_hint">
        <source>drop_hint</source>
        <translation>Drop a folder or images here</translation>
    </message>
    <message id="dropped_image_count" numerus="yes">
        <source>dropped_image_count</source>
        <translation>
            <numerusform>%n image</numerusform>
            <numerusform>%n images</numerusform>
        </translation>
    </message>
    <message id="error_input_output">
        <source>error_input_output</source>
        <translation>input/output error</translation>
    </message>
    <message id="error_link_loop">
        <source>error_link_loop</source>
        <translation>too many levels of symbolic links</translation>
    </message>
    <message id="error_name_too_long">
        <source>error_name_too_long</source>
        <translation>name too long</translation>
    </message>
    <message id="error_no_such_file">
        <source>error_no_such_file</source>
        <translation>no such file or folder</translation>
    </message>
    <message id="error_not_a_regular_file">
        <source>error_not_a_regular_file</source>
        <translation>not a regular file</translation>
    </message>
    <message id="error_not_a_folder">
        <source>error_not_a_folder</source>
        <translation>not a folder</translation>
    </message>
    <message id="error_permission_denied">
        <source>error_permission_denied</source>
        <translation>permission denied</translation>
    </message>
    <message id="error_too_many_open_files">
        <source>error_too_many_open_files</source>
        <translation>too many open files</translation>
    </message>
    <message id="filter_pending" numerus="yes">
        <source>filter_pending</source>
        <translation>
            <numerusform>%n image not read yet</numerusform>
            <numerusform>%n images not read yet</numerusform>
        </translation>
    </message>
    <message id="filter_placeholder">
        <source>filter_placeholder</source>
        <translation>Filter by prompt, model, seed…</translation>
    </message>
    <message id="filter_tooltip">
        <source>filter_tooltip</source>
        <translation>Words are looked for in the prompt, negative prompt, model, LoRAs, sampler and file name; all must match. "Quoted phrases" match as a whole, -word excludes. Fields: prompt: neg: model: lora: sampler: seed: steps: size: cfg: generator: tag: file: — numbers also with &gt; and &lt; (steps:&gt;30).</translation>
    </message>
    <message id="folder_gone">
        <source>folder_gone</source>
        <translation>The folder “%1” is no longer there: it was moved, renamed or deleted. Open it again once it is back.</translation>
    </message>
    <message id="generate_outcome_sent">
        <source>generate_outcome_sent</source>
        <translation>Sent to Limnora</translation>
    </message>
    <message id="generate_outcome_status">
        <source>generate_outcome_status</source>
        <translation>Limnora answered with HTTP status %1</translation>
    </message>
    <message id="generate_outcome_unreachable">
        <source>generate_outcome_unreachable</source>
        <translation>Limnora is not reachable</translation>
    </message>
    <message id="generator_line">
        <source>generator_line</source>
        <translation>Generator: %1</translation>
    </message>
    <message id="generator_unknown">
        <source>generator_unknown</source>
        <translation>Generator: not recognised</translation>
    </message>
    <message id="hide_preview">
        <source>hide_preview</source>
        <translation>Hide Preview</translation>
    </message>
    <message id="limnora_not_running">
        <source>limnora_not_running</source>
        <translation>Limnora is not running</translation>
    </message>
    <message id="limnora_running">
        <source>limnora_running</source>
        <translation>Limnora is running (%1)</translation>
    </message>
    <message id="menu_find">
        <source>menu_find</source>
        <translation>&amp;Find…</translation>
    </message>
    <message id="menu_sort">
        <source>menu_sort</source>
        <translation>Sort By</translation>
    </message>
    <message id="menu_tags">
        <source>menu_tags</source>
        <translation>Ta&amp;gs</translation>
    </message>
    <message id="no_exif_data">
        <source>no_exif_data</source>
        <translation>This image has no generation settings.</translation>
    </message>
    <message id="no_folder_selected">
        <source>no_folder_selected</source>
        <translation>No folder selected</translation>
    </message>
    <message id="no_images_in_folder">
        <source>no_images_in_folder</source>
        <translation>No images in this folder.</translation>
    </message>
    <message id="no_settings">
        <source>no_settings</source>
        <translation>No settings</translation>
    </message>
    <message id="open_folder_button">
        <source>open_folder_button</source>
        <translation>Open Folder…</translation>
    </message>
    <message id="open_folder_tooltip">
        <source>open_folder_tooltip</source>
        <translation>Open a folder</translation>
    </message>
    <message id="position_of_listed">
        <source>position_of_listed</source>
        <translation>%1 / %2 of %3</translation>
    </message>
    <message id="query_error_comparison_on_text">
        <source>query_error_comparison_on_text</source>
        <translation>“%1:” holds text and takes no &gt; or &lt;; only %2 do.</translation>
    </message>
    <message id="query_error_empty_value">
        <source>query_error_empty_value</source>
        <translation>“%1:” needs something to look for after the colon.</translation>
    </message>
    <message id="query_error_lone_minus">
        <source>query_error_lone_minus</source>
        <translation>A “-” must be followed by what to leave out, as in -blurry.</translation>
    </message>
    <message id="query_error_not_a_number">
        <source>query_error_not_a_number</source>
        <translation>“%1:” takes a number, also after &gt;, &lt;, &gt;= or &lt;=, not “%2”.</translation>
    </message>
    <message id="query_error_unclosed_quote">
        <source>query_error_unclosed_quote</source>
        <translation>A quotation mark is not closed.</translation>
    </message>
    <message id="query_error_unknown_field">
        <source>query_error_unknown_field</source>
        <translation>Unknown field “%1:”. Fields: %2. Put text that holds a colon in quotation marks.</translation>
    </message>
    <message id="query_error_unknown_tag">
        <source>query_error_unknown_tag</source>
        <translation>Unknown colour tag “%1”. Tags: %2.</translation>
    </message>
    <message id="raw_metadata_hide">
        <source>raw_metadata_hide</source>
        <translation>Hide</translation>
    </message>
    <message id="raw_metadata_more">
        <source>raw_metadata_more</source>
        <translation>… %1 more characters (Copy All copies the whole text)</translation>
    </message>
    <message id="raw_metadata_show">
        <source>raw_metadata_show</source>
        <translation>Show (%1)</translation>
    </message>
    <message id="section_loras">
        <source>section_loras</source>
        <translation>LoRAs</translation>
    </message>
    <message id="section_negative_prompt">
        <source>section_negative_prompt</source>
        <translation>Negative Prompt</translation>
    </message>
    <message id="section_prompt">
        <source>section_prompt</source>
        <translation>Prompt</translation>
    </message>
    <message id="section_raw_metadata">
        <source>section_raw_metadata</source>
        <translation>Raw Metadata</translation>
    </message>
    <message id="section_settings">
        <source>section_settings</source>
        <translation>Settings</translation>
    </message>
    <message id="select_image_hint">
        <source>select_image_hint</source>
        <translation>Select an image to see how it was generated.</translation>
    </message>
    <message id="setting_batch_count">
        <source>setting_batch_count</source>
        <translation>Batch Count</translation>
    </message>
    <message id="setting_batch_size">
        <source>setting_batch_size</source>
        <translation>Batch Size</translation>
    </message>
    <message id="setting_clip_skip">
        <source>setting_clip_skip</source>
        <translation>CLIP Skip</translation>
    </message>
    <message id="setting_refiner_model">
        <source>setting_refiner_model</source>
        <translation>Refiner Model</translation>
    </message>
    <message id="setting_upscaler">
        <source>setting_upscaler</source>
        <translation>Upscaler</translation>
    </message>
    <message id="setting_upscale">
        <source>setting_upscale</source>
        <translation>Upscale</translation>
    </message>
    <message id="setting_vae">
        <source>setting_vae</source>
        <translation>VAE</translation>
    </message>
    <message id="setting_other_samplers">
        <source>setting_other_samplers</source>
        <translation>Other Samplers</translation>
    </message>
    <message id="setting_model_hash">
        <source>setting_model_hash</source>
        <translation>Model hash</translation>
    </message>
    <message id="setting_vae_hash">
        <source>setting_vae_hash</source>
        <translation>VAE hash</translation>
    </message>
    <message id="setting_lora_hashes">
        <source>setting_lora_hashes</source>
        <translation>Lora hashes</translation>
    </message>
    <message id="setting_ti_hashes">
        <source>setting_ti_hashes</source>
        <translation>TI hashes</translation>
    </message>
    <message id="setting_denoising_strength">
        <source>setting_denoising_strength</source>
        <translation>Denoising strength</translation>
    </message>
    <message id="setting_hires_upscaler">
        <source>setting_hires_upscaler</source>
        <translation>Hires upscaler</translation>
    </message>
    <message id="setting_hires_upscale">
        <source>setting_hires_upscale</source>
        <translation>Hires upscale</translation>
    </message>
    <message id="setting_hires_steps">
        <source>setting_hires_steps</source>
        <translation>Hires steps</translation>
    </message>
    <message id="setting_face_restoration">
        <source>setting_face_restoration</source>
        <translation>Face restoration</translation>
    </message>
    <message id="setting_face_restoration_strength">
        <source>setting_face_restoration_strength</source>
        <translation>Face Restoration Strength</translation>
    </message>
    <message id="setting_codeformer_fidelity">
        <source>setting_codeformer_fidelity</source>
        <translation>CodeFormer Fidelity</translation>
    </message>
    <message id="setting_init_image">
        <source>setting_init_image</source>
        <translation>Init Image</translation>
    </message>
    <message id="setting_iterations">
        <source>setting_iterations</source>
        <translation>Iterations</translation>
    </message>
    <message id="setting_noise">
        <source>setting_noise</source>
        <translation>Noise</translation>
    </message>
    <message id="setting_sharpness">
        <source>setting_sharpness</source>
        <translation>Sharpness</translation>
    </message>
    <message id="setting_flux_guidance">
        <source>setting_flux_guidance</source>
        <translation>Flux Guidance</translation>
    </message>
    <message id="setting_start_step">
        <source>setting_start_step</source>
        <translation>Start Step</translation>
    </message>
    <message id="setting_end_step">
        <source>setting_end_step</source>
        <translation>End Step</translation>
    </message>
    <message id="setting_schedule_type">
        <source>setting_schedule_type</source>
        <translation>Schedule type</translation>
    </message>
    <message id="setting_version">
        <source>setting_version</source>
        <translation>Version</translation>
    </message>
    <message id="setting_cfg">
        <source>setting_cfg</source>
        <translation>Guidance Scale</translation>
    </message>
    <message id="setting_hires_fix">
        <source>setting_hires_fix</source>
        <translation>Hires Fix</translation>
    </message>
    <message id="setting_model">
        <source>setting_model</source>
        <translation>Model</translation>
    </message>
    <message id="setting_render_time">
        <source>setting_render_time</source>
        <translation>Render Time</translation>
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
        <translation>Seed Mode</translation>
    </message>
    <message id="setting_shift">
        <source>setting_shift</source>
        <translation>Shift</translation>
    </message>
    <message id="setting_size">
        <source>setting_size</source>
        <translation>Size</translation>
    </message>
    <message id="setting_steps">
        <source>setting_steps</source>
        <translation>Steps</translation>
    </message>
    <message id="setting_strength">
        <source>setting_strength</source>
        <translation>Strength</translation>
    </message>
    <message id="show_preview">
        <source>show_preview</source>
        <translation>Show Preview</translation>
    </message>
    <message id="skipped_unreadable_names" numerus="yes">
        <source>skipped_unreadable_names</source>
        <translation>
            <numerusform>%n file with an unreadable name was skipped</numerusform>
            <numerusform>%n files with unreadable names were skipped</numerusform>
        </translation>
    </message>
    <message id="sort_date_asc">
        <source>sort_date_asc</source>
        <translation>Date Created (Oldest First)</translation>
    </message>
    <message id="sort_date_desc">
        <source>sort_date_desc</source>
        <translation>Date Created (Newest First)</translation>
    </message>
    <message id="sort_name_asc">
        <source>sort_name_asc</source>
        <translation>Name (A to Z)</translation>
    </message>
    <message id="sort_name_desc">
        <source>sort_name_desc</source>
        <translation>Name (Z to A)</translation>
    </message>
    <message id="tag_blue">
        <source>tag_blue</source>
        <translation>Blue</translation>
    </message>
    <message id="tag_gray">
        <source>tag_gray</source>
        <translation>Gray</translation>
    </message>
    <message id="tag_green">
        <source>tag_green</source>
        <translation>Green</translation>
    </message>
    <message id="tag_orange">
        <source>tag_orange</source>
        <translation>Orange</translation>
    </message>
    <message id="tag_purple">
        <source>tag_purple</source>
        <translation>Purple</translation>
    </message>
    <message id="tag_red">
        <source>tag_red</source>
        <translation>Red</translation>
    </message>
    <message id="tag_remove_all">
        <source>tag_remove_all</source>
        <translation>Remove All &amp;Tags</translation>
    </message>
    <message id="tag_yellow">
        <source>tag_yellow</source>
        <translation>Yellow</translation>
    </message>
    <message id="menu_file">
        <source>menu_file</source>
        <translation>&amp;File</translation>
    </message>
    <message id="menu_edit">
        <source>menu_edit</source>
        <translation>&amp;Edit</translation>
    </message>
    <message id="menu_view">
        <source>menu_view</source>
        <translation>&amp;View</translation>
    </message>
    <message id="menu_compare">
        <source>menu_compare</source>
        <translation>&amp;Compare</translation>
    </message>
    <message id="compare_title">
        <source>compare_title</source>
        <translation>Compare</translation>
    </message>
    <message id="compare_close">
        <source>compare_close</source>
        <translation>Close (Esc)</translation>
    </message>
    <message id="compare_reading">
        <source>compare_reading</source>
        <translation>Reading…</translation>
    </message>
    <message id="compare_no_metadata">
        <source>compare_no_metadata</source>
        <translation>This image holds no generation settings.</translation>
    </message>
    <message id="compare_generator">
        <source>compare_generator</source>
        <translation>Generator</translation>
    </message>
    <message id="menu_clear_metadata_index">
        <source>menu_clear_metadata_index</source>
        <translation>Clear &amp;Metadata Index</translation>
    </message>
    <message id="metadata_index_cleared">
        <source>metadata_index_cleared</source>
        <translation>Metadata index cleared: images will be read again.</translation>
    </message>
    <message id="metadata_index_not_cleared">
        <source>metadata_index_not_cleared</source>
        <translation>The metadata index could not be cleared.</translation>
    </message>
    <message id="menu_quit">
        <source>menu_quit</source>
        <translation>&amp;Quit</translation>
    </message>
    <message id="menu_open_folder">
        <source>menu_open_folder</source>
        <translation>&amp;Open Folder…</translation>
    </message>
    <message id="menu_copy_prompt">
        <source>menu_copy_prompt</source>
        <translation>Copy &amp;Prompt</translation>
    </message>
    <message id="menu_copy_negative_prompt">
        <source>menu_copy_negative_prompt</source>
        <translation>Copy &amp;Negative Prompt</translation>
    </message>
    <message id="menu_copy_settings_json">
        <source>menu_copy_settings_json</source>
        <translation>Copy Settings as &amp;JSON</translation>
    </message>
    <message id="menu_move_to_trash">
        <source>menu_move_to_trash</source>
        <translation>Move to &amp;Trash</translation>
    </message>
    <message id="menu_move_to_trash_without_asking">
        <source>menu_move_to_trash_without_asking</source>
        <translation>Move to Trash &amp;Without Asking</translation>
    </message>
    <message id="menu_tag_red">
        <source>menu_tag_red</source>
        <translation>&amp;Red</translation>
    </message>
    <message id="menu_tag_orange">
        <source>menu_tag_orange</source>
        <translation>&amp;Orange</translation>
    </message>
    <message id="menu_tag_yellow">
        <source>menu_tag_yellow</source>
        <translation>&amp;Yellow</translation>
    </message>
    <message id="menu_tag_green">
        <source>menu_tag_green</source>
        <translation>&amp;Green</translation>
    </message>
    <message id="menu_tag_blue">
        <source>menu_tag_blue</source>
        <translation>&amp;Blue</translation>
    </message>
    <message id="menu_tag_purple">
        <source>menu_tag_purple</source>
        <translation>&amp;Purple</translation>
    </message>
    <message id="menu_tag_gray">
        <source>menu_tag_gray</source>
        <translation>Gr&amp;ay</translation>
    </message>
    <message id="menu_sort_by">
        <source>menu_sort_by</source>
        <translation>&amp;Sort By</translation>
    </message>
    <message id="menu_show_preview">
        <source>menu_show_preview</source>
        <translation>Show &amp;Preview</translation>
    </message>
    <message id="menu_go">
        <source>menu_go</source>
        <translation>&amp;Go</translation>
    </message>
    <message id="menu_previous_image">
        <source>menu_previous_image</source>
        <translation>&amp;Previous Image</translation>
    </message>
    <message id="menu_next_image">
        <source>menu_next_image</source>
        <translation>&amp;Next Image</translation>
    </message>
    <message id="menu_first_image">
        <source>menu_first_image</source>
        <translation>&amp;First Image</translation>
    </message>
    <message id="menu_quick_look">
        <source>menu_quick_look</source>
        <translation>&amp;Quick Look</translation>
    </message>
    <message id="menu_last_image">
        <source>menu_last_image</source>
        <translation>&amp;Last Image</translation>
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
        <translation>The file is no longer there.</translation>
    </message>
    <message id="trash_error_unusable">
        <source>trash_error_unusable</source>
        <translation>The Trash cannot be used.</translation>
    </message>
    <message id="trash_error_no_data_folder">
        <source>trash_error_no_data_folder</source>
        <translation>There is no data folder for the Trash: HOME or XDG_DATA_HOME does not name an absolute folder.</translation>
    </message>
    <message id="trash_error_drive_unusable">
        <source>trash_error_drive_unusable</source>
        <translation>The Trash folder of that drive cannot be used.</translation>
    </message>
    <message id="trash_error_system">
        <source>trash_error_system</source>
        <translation>The system refused the move: %1</translation>
    </message>
    <message id="trash_failed_message">
        <source>trash_failed_message</source>
        <translation>“%1” could not be moved to the Trash.</translation>
    </message>
    <message id="trash_failed_multi_message">
        <source>trash_failed_multi_message</source>
        <translation>%1 files could not be moved to the Trash.</translation>
    </message>
    <message id="trash_failure_line">
        <source>trash_failure_line</source>
        <translation>%1: %2</translation>
    </message>
</context>
</TS>
