// Says on the page whether its stylesheet was applied, its image loaded and its sound could be
// sought to the middle, for people and for the headless browser that checks the example.
window.addEventListener("load", function () {
    var header = document.querySelector("header");
    var logo = document.getElementById("logo");
    var status = document.getElementById("status");
    status.textContent = "header background: " + getComputedStyle(header).backgroundColor +
        "; logo width: " + logo.naturalWidth;
    status.setAttribute("data-ready", "yes");
});
(function () {
    var tone = document.getElementById("tone");
    var sought = document.getElementById("sought");
    function seek() {
        tone.currentTime = 6;
    }
    tone.addEventListener("seeked", function () {
        sought.textContent = "sound sought to " + Math.round(tone.currentTime) + " s of " +
            Math.round(tone.duration) + " s";
    });
    if (tone.readyState >= 1)
        seek();
    else
        tone.addEventListener("loadedmetadata", seek);
})();
